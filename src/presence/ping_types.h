#pragma once

#include <cstdint>

#include "net/socket/net_address.h"

namespace tiv {

// Outcome codes of one ping. Every failure ends as one of these; nothing is logged or shown.
enum class PING_STATUS : std::int32_t {
    replied = 1,           // an accepted reply arrived
    waiting = 0,           // no reply yet (a job's record left unanswered keeps it: the friend list shows TIMEOUT)
    send_timed_out = -1,   // sending failed with ETIMEDOUT
    send_failed = -3,      // sending failed otherwise, or sent fewer bytes than the request has
    reply_too_short = -4,  // the reply is shorter than its IP header plus 12 bytes
    reply_other_type = -5, // the answer to our request is an ICMP message of another type (unreachable, ...)
    receive_timed_out = -7,
    receive_failed = -8,
    ttl_failed = -9,      // the time-to-live could not be set (also: no ICMP socket could be opened)
    timeout_failed = -10, // the receive time-out could not be set
};

// A few words for the status, as the command line prints it.
[[nodiscard]] const char* ping_status_text(PING_STATUS status);

// Size of the address texts of a result: room for the longest IPv6 address with its zone; an IPv4 address is
// padded to 19 characters ("%-19s").
inline constexpr std::size_t ping_address_text_size = 64;

struct ping_result {
    char reply_source[ping_address_text_size] = {};
    char reply_destination[ping_address_text_size] = {};
    PING_STATUS status = PING_STATUS::waiting;
    std::uint32_t icmp_word1 = 0; // type, code and checksum as received
    std::uint32_t icmp_word2 = 0; // identifier and sequence number as received (network order)
    std::int32_t round_trip = -1; // milliseconds from sending to receiving
    std::int32_t bytes_received = 0;
    bool over_ipv6 = false; // the answer is an ICMPv6 message, which numbers its types its own way
};

// One friend in a ping job.
struct ping_record {
    bool replied = false;
    net_address destination; // a fresh record has `resolved` and `error` cleared
    std::uint8_t time_to_live = 32;
    std::uint16_t identifier = 0; // 1024 + the friend's row
    std::int32_t send_time = 0;   // stopwatch milliseconds when the sweep began sending; -1 when the TTL failed
    ping_result result;
};

// Identifier of the record of the friend in `row`.
[[nodiscard]] constexpr std::uint16_t ping_identifier_for_row(std::size_t row) {
    return static_cast<std::uint16_t>(1024 + row);
}

} // namespace tiv
