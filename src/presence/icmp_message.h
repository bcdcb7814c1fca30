#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <span>
#include <vector>

#include "net/socket/net_address.h"

namespace tiv {

// The types of the messages a ping exchanges; ICMPv6 numbers the same messages its own way.
struct icmp_numbers {
    std::uint8_t echo_request;
    std::uint8_t echo_reply;
    std::uint8_t time_exceeded;
};
inline constexpr icmp_numbers icmpv4{.echo_request = 8, .echo_reply = 0, .time_exceeded = 11};
inline constexpr icmp_numbers icmpv6{.echo_request = 128, .echo_reply = 129, .time_exceeded = 3};

[[nodiscard]] constexpr const icmp_numbers& icmp_numbers_of(bool over_ipv6) {
    return over_ipv6 ? icmpv6 : icmpv4;
}

inline constexpr std::uint16_t min_request_length = 12;
inline constexpr std::uint16_t max_request_length = 128;

// A request length forced into min_request_length...max_request_length.
[[nodiscard]] std::uint16_t clamp_request_length(int length);

// The Internet checksum (RFC 1071) of `bytes`, in host order.
[[nodiscard]] std::uint16_t internet_checksum(std::span<const std::uint8_t> bytes);

// An echo request of `length` bytes (at least 8) with zero data; identifier and sequence in host order. An ICMPv6
// one leaves its checksum to the kernel, which alone knows the source address the checksum covers.
[[nodiscard]] std::vector<std::uint8_t> build_echo_request(std::uint16_t identifier, std::uint16_t sequence,
                                                           std::uint16_t length, int family = AF_INET);

// One ICMP or ICMPv6 message as a ping socket delivered it, taken apart.
struct icmp_datagram {
    ip_endpoint source = {}; // ports zero
    ip_endpoint destination = {};
    int header_length = 0; // IP header bytes in front of the ICMP message (40 counted for IPv6)
    int length = 0;        // bytes received, IP header included
    std::uint8_t type = 0;
    std::uint32_t icmp_word1 = 0; // as received
    std::uint32_t icmp_word2 = 0;
    // The echo request this message concerns: for an echo reply its own identifier and sequence, for an error
    // message (Time Exceeded, Destination Unreachable, ...) those of the echo request it quotes. Host order.
    bool names_request = false;
    std::uint16_t identifier = 0;
    std::uint16_t sequence = 0;

    [[nodiscard]] bool ipv6() const { return source.any.sa_family == AF_INET6; }
    [[nodiscard]] bool is_echo_reply() const { return type == (ipv6() ? icmpv6.echo_reply : icmpv4.echo_reply); }
    [[nodiscard]] bool is_time_exceeded() const {
        return type == (ipv6() ? icmpv6.time_exceeded : icmpv4.time_exceeded);
    }
};

// A datagram of a raw socket: IPv4 header, then the ICMP message. False when it is not IPv4 or too short to hold
// its header and the first 8 bytes of the ICMP message.
[[nodiscard]] bool parse_ip_datagram(std::span<const std::uint8_t> bytes, icmp_datagram& out);

// A datagram of the kernel's ICMP datagram socket, which strips the IP header; the addresses come from the
// receive call. The stripped header is counted as a plain 20-byte one so lengths mean the same for both kinds.
[[nodiscard]] bool parse_icmp_message(std::span<const std::uint8_t> bytes, in_addr source, in_addr destination,
                                      icmp_datagram& out);

// An ICMPv6 message: both kinds of socket deliver it without the IPv6 header, so the addresses come from the
// receive call. The header is counted as 40 bytes so lengths mean what they mean for IPv4.
[[nodiscard]] bool parse_icmpv6_message(std::span<const std::uint8_t> bytes, const sockaddr_in6& source,
                                        const in6_addr& destination, icmp_datagram& out);

} // namespace tiv
