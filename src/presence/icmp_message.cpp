#include "presence/icmp_message.h"

#include <algorithm>
#include <cstring>

#include "core/byte_fields.h"

namespace tiv {

namespace {

constexpr std::size_t icmp_header_size = 8;
constexpr std::size_t min_ip_header_size = 20;
constexpr std::uint8_t protocol_icmp = 1;

// Error messages that report the fate of a datagram quote its IP header and first 8 bytes. A redirect is left
// out: the gateway that sends it has still forwarded the request.
bool quotes_datagram(std::uint8_t type) {
    return type == 3 || type == 4 || type == icmpv4.time_exceeded || type == 12;
}

// What the program needs of an IPv4 header.
struct ip_header {
    std::size_t length = 0;
    std::uint8_t protocol = 0;
    in_addr source = {};
    in_addr destination = {};
};

// A well-formed IPv4 header at the reader's position, which then stands after it (options included).
bool read_ip_header(field_reader& in, ip_header& out) {
    std::uint8_t version_and_length = 0;
    std::span<const std::uint8_t> fixed;
    if (!in.u8(version_and_length) || !in.take(min_ip_header_size - 1, fixed) || (version_and_length >> 4) != 4) {
        return false;
    }
    out.length = static_cast<std::size_t>(version_and_length & 15) * 4;
    if (out.length < min_ip_header_size || !in.skip(out.length - min_ip_header_size)) {
        return false;
    }
    // Addresses stay in network order, as the socket calls give them.
    field_reader header(fixed);
    std::span<const std::uint8_t> source;
    std::span<const std::uint8_t> destination;
    if (!header.skip(8) || !header.u8(out.protocol) || !header.skip(2) || !header.take(sizeof out.source, source) ||
        !header.take(sizeof out.destination, destination)) {
        return false;
    }
    std::memcpy(&out.source, source.data(), sizeof out.source);
    std::memcpy(&out.destination, destination.data(), sizeof out.destination);
    return true;
}

// An ICMP header: its bytes as received, the type, and the identifier and sequence of an echo message (host order).
struct icmp_header {
    std::span<const std::uint8_t> bytes;
    std::uint8_t type = 0;
    std::uint16_t identifier = 0;
    std::uint16_t sequence = 0;
};

bool read_icmp_header(field_reader& in, icmp_header& out) {
    if (!in.take(icmp_header_size, out.bytes)) {
        return false;
    }
    field_reader fields(out.bytes);
    return fields.u8(out.type) && fields.skip(3) && fields.be16(out.identifier) && fields.be16(out.sequence);
}

constexpr std::size_t ipv6_header_size = 40;
constexpr std::uint8_t next_header_icmpv6 = 58;

// The quoted IPv6 header of an ICMPv6 error message, which stands right in front of our request only when the
// request carried no extension header (ours never do).
bool read_quoted_ipv6_header(field_reader& in) {
    std::span<const std::uint8_t> header;
    return in.take(ipv6_header_size, header) && (header[0] >> 4) == 6 && header[6] == next_header_icmpv6;
}

// ICMPv6 errors that report the fate of a packet quote as much of it as fits: destination unreachable, packet too
// big, time exceeded and parameter problem.
bool quotes_packet_v6(std::uint8_t type) {
    return type >= 1 && type <= 4;
}

// Fills the ICMP part of `out` from a message of at least icmp_header_size bytes.
void take_icmp(std::span<const std::uint8_t> message, bool v6, icmp_datagram& out) {
    field_reader in(message);
    icmp_header header;
    if (!read_icmp_header(in, header)) {
        return;
    }
    // The two words as received, for a caller that reports them as they came.
    std::memcpy(&out.icmp_word1, header.bytes.data(), sizeof out.icmp_word1);
    std::memcpy(&out.icmp_word2, header.bytes.data() + sizeof out.icmp_word1, sizeof out.icmp_word2);
    out.type = header.type;
    out.names_request = false;
    if (out.type == icmp_numbers_of(v6).echo_reply) {
        out.names_request = true;
        out.identifier = header.identifier;
        out.sequence = header.sequence;
        return;
    }
    if (!(v6 ? quotes_packet_v6(out.type) : quotes_datagram(out.type))) {
        return;
    }
    ip_header quoted;
    icmp_header request;
    const bool quotes_echo_request =
        v6 ? read_quoted_ipv6_header(in) && read_icmp_header(in, request) && request.type == icmpv6.echo_request
           : read_ip_header(in, quoted) && quoted.protocol == protocol_icmp && read_icmp_header(in, request) &&
                 request.type == icmpv4.echo_request;
    if (!quotes_echo_request) {
        return;
    }
    out.names_request = true;
    out.identifier = request.identifier;
    out.sequence = request.sequence;
}

ip_endpoint endpoint_of(in_addr address) {
    ip_endpoint endpoint = {};
    endpoint.v4.sin_family = AF_INET;
    endpoint.v4.sin_addr = address;
    return endpoint;
}

} // namespace

std::uint16_t clamp_request_length(int length) {
    return static_cast<std::uint16_t>(std::clamp<int>(length, min_request_length, max_request_length));
}

std::uint16_t internet_checksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        sum += get_be16(bytes.data() + i);
    }
    if (i < bytes.size()) {
        sum += static_cast<std::uint32_t>(bytes[i]) << 8;
    }
    while ((sum >> 16) != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

std::vector<std::uint8_t> build_echo_request(std::uint16_t identifier, std::uint16_t sequence, std::uint16_t length,
                                             int family) {
    std::vector<std::uint8_t> message(std::max<std::size_t>(length, icmp_header_size), 0);
    message[0] = icmp_numbers_of(family == AF_INET6).echo_request;
    put_be16(message.data() + 4, identifier);
    put_be16(message.data() + 6, sequence);
    if (family != AF_INET6) {
        put_be16(message.data() + 2, internet_checksum(message));
    }
    return message;
}

bool parse_ip_datagram(std::span<const std::uint8_t> bytes, icmp_datagram& out) {
    field_reader in(bytes);
    ip_header header;
    if (!read_ip_header(in, header) || in.remaining() < icmp_header_size) {
        return false;
    }
    out.source = endpoint_of(header.source);
    out.destination = endpoint_of(header.destination);
    out.header_length = static_cast<int>(header.length);
    out.length = static_cast<int>(bytes.size());
    take_icmp(bytes.subspan(header.length), false, out);
    return true;
}

bool parse_icmp_message(std::span<const std::uint8_t> bytes, in_addr source, in_addr destination, icmp_datagram& out) {
    if (bytes.size() < icmp_header_size) {
        return false;
    }
    out.source = endpoint_of(source);
    out.destination = endpoint_of(destination);
    out.header_length = static_cast<int>(min_ip_header_size);
    out.length = static_cast<int>(min_ip_header_size + bytes.size());
    take_icmp(bytes, false, out);
    return true;
}

bool parse_icmpv6_message(std::span<const std::uint8_t> bytes, const sockaddr_in6& source, const in6_addr& destination,
                          icmp_datagram& out) {
    if (bytes.size() < icmp_header_size) {
        return false;
    }
    out.source = {};
    out.source.v6 = source;
    out.source.v6.sin6_family = AF_INET6;
    out.source.v6.sin6_port = 0;
    out.destination = {};
    out.destination.v6.sin6_family = AF_INET6;
    out.destination.v6.sin6_addr = destination;
    out.header_length = static_cast<int>(ipv6_header_size);
    out.length = static_cast<int>(ipv6_header_size + bytes.size());
    take_icmp(bytes, true, out);
    return true;
}

} // namespace tiv
