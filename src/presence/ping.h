#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>

#include "net/socket/net_address.h"
#include "presence/ping_socket.h"
#include "presence/ping_types.h"

namespace tiv {

inline constexpr std::chrono::milliseconds ping_once_wait{5000};
inline constexpr std::uint8_t ping_once_ttl = 128;
inline constexpr std::uint16_t ping_once_length = 64;

// Whole milliseconds since the program started, on a monotonic clock: the time base of send times.
[[nodiscard]] std::int32_t ping_stopwatch_ms();

// Low 16 bits of the process id: the identifier of ping_once's requests and the sequence number of a sweep's.
[[nodiscard]] std::uint16_t ping_process_tag();

// One echo request to destination.sockaddr, waiting up to `reply_wait` for its answer: an echo reply or a Time
// Exceeded message about this very request (status replied), or another error message about it
// (reply_other_type). Messages that answer other requests, of this or other programs, are passed over.
// Each call's result is its own; calls on one socket take turns.
[[nodiscard]] ping_result ping_once(ping_socket& socket, const net_address& destination,
                                    std::chrono::milliseconds reply_wait = ping_once_wait);

// ping_once on the process-wide socket, opened on first use and closed at exit. Thread-safe: concurrent callers
// take turns (each blocks for up to about 5 seconds).
[[nodiscard]] ping_result ping_once(const net_address& destination);

// What a caller may hand a sweep: a stop request it polls (at least every 100 ms), and a function told of every
// change of a record (index and new value) as it happens, so a job can publish results while it runs.
struct sweep_control {
    const std::atomic<bool>* stop = nullptr;
    std::function<void(std::size_t, const ping_record&)> changed;
};

// Sends one echo request for every record not yet replied (25 ms apart, all with one send time) and collects echo
// replies until all have replied or `wait` has passed after the last send. 0 when every record has replied, 1 when
// some has not, -1 when the receive time-out could not be set (every record not yet replied then has status
// timeout_failed).
// A reply belongs to a record when it comes from the record's address and carries the record's request fields.
[[nodiscard]] int ping_sweep(std::span<ping_record> records, ping_socket& socket, std::chrono::milliseconds wait,
                             int length, const sweep_control& control = {});

// Identifier and sequence number that a sweep's request for a record with `record_identifier` carries on a socket
// of `kind`. The datagram socket's identifier is the kernel's, so there the record travels in the sequence number.
struct echo_fields {
    std::uint16_t identifier;
    std::uint16_t sequence;
};
[[nodiscard]] echo_fields sweep_request_fields(icmp_socket_kind kind, std::uint16_t record_identifier);

// Index of the first record that `reply` answers, or records.size() when none does (the reply is dropped).
[[nodiscard]] std::size_t find_replied_record(std::span<const ping_record> records, const icmp_datagram& reply,
                                              icmp_socket_kind kind);

// True when `message` answers the echo request with these fields (the identifier is not compared on the datagram
// socket, whose kernel delivers only replies to its own identifier).
[[nodiscard]] bool answers_request(const icmp_datagram& message, echo_fields request, icmp_socket_kind kind);

} // namespace tiv
