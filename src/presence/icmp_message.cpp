#include "presence/icmp_message.h"

#include <algorithm>
#include <cstring>

namespace tiv {

namespace {

constexpr std::size_t icmp_header_size = 8;
constexpr std::size_t min_ip_header_size = 20;
constexpr std::uint8_t protocol_icmp = 1;

std::uint16_t read_u16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

std::uint32_t read_word(std::span<const std::uint8_t> bytes, std::size_t offset) {
    std::uint32_t word = 0;
    std::memcpy(&word, bytes.data() + offset, sizeof word);
    return word;
}

// Error messages that report the fate of a datagram quote its IP header and first 8 bytes. A redirect is left
// out: the gateway that sends it has still forwarded the request.
bool quotes_datagram(std::uint8_t type) {
    return type == 3 || type == 4 || type == icmp_time_exceeded || type == 12;
}

// Length of a well-formed IPv4 header at the start of `bytes`, or 0.
std::size_t ip_header_length(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < min_ip_header_size || (bytes[0] >> 4) != 4) {
        return 0;
    }
    const std::size_t length = static_cast<std::size_t>(bytes[0] & 15) * 4;
    return length >= min_ip_header_size && length <= bytes.size() ? length : 0;
}

// Fills the ICMP part of `out` from a message of at least icmp_header_size bytes.
void take_icmp(std::span<const std::uint8_t> message, icmp_datagram& out) {
    out.type = message[0];
    out.icmp_word1 = read_word(message, 0);
    out.icmp_word2 = read_word(message, 4);
    out.names_request = false;
    if (out.type == icmp_echo_reply) {
        out.names_request = true;
        out.identifier = read_u16(message, 4);
        out.sequence = read_u16(message, 6);
        return;
    }
    if (!quotes_datagram(out.type)) {
        return;
    }
    const std::span<const std::uint8_t> quoted = message.subspan(icmp_header_size);
    const std::size_t quoted_header = ip_header_length(quoted);
    if (quoted_header == 0 || quoted[9] != protocol_icmp || quoted.size() < quoted_header + icmp_header_size ||
        quoted[quoted_header] != icmp_echo_request) {
        return;
    }
    out.names_request = true;
    out.identifier = read_u16(quoted, quoted_header + 4);
    out.sequence = read_u16(quoted, quoted_header + 6);
}

} // namespace

std::uint16_t clamp_request_length(int length) {
    return static_cast<std::uint16_t>(std::clamp<int>(length, min_request_length, max_request_length));
}

std::uint16_t internet_checksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        sum += read_u16(bytes, i);
    }
    if (i < bytes.size()) {
        sum += static_cast<std::uint32_t>(bytes[i]) << 8;
    }
    while ((sum >> 16) != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

std::vector<std::uint8_t> build_echo_request(std::uint16_t identifier, std::uint16_t sequence, std::uint16_t length) {
    std::vector<std::uint8_t> message(std::max<std::size_t>(length, icmp_header_size), 0);
    message[0] = icmp_echo_request;
    message[4] = static_cast<std::uint8_t>(identifier >> 8);
    message[5] = static_cast<std::uint8_t>(identifier);
    message[6] = static_cast<std::uint8_t>(sequence >> 8);
    message[7] = static_cast<std::uint8_t>(sequence);
    const std::uint16_t checksum = internet_checksum(message);
    message[2] = static_cast<std::uint8_t>(checksum >> 8);
    message[3] = static_cast<std::uint8_t>(checksum);
    return message;
}

bool parse_ip_datagram(std::span<const std::uint8_t> bytes, icmp_datagram& out) {
    const std::size_t header = ip_header_length(bytes);
    if (header == 0 || bytes.size() < header + icmp_header_size) {
        return false;
    }
    std::memcpy(&out.source, bytes.data() + 12, sizeof out.source);
    std::memcpy(&out.destination, bytes.data() + 16, sizeof out.destination);
    out.header_length = static_cast<int>(header);
    out.length = static_cast<int>(bytes.size());
    take_icmp(bytes.subspan(header), out);
    return true;
}

bool parse_icmp_message(std::span<const std::uint8_t> bytes, in_addr source, in_addr destination, icmp_datagram& out) {
    if (bytes.size() < icmp_header_size) {
        return false;
    }
    out.source = source;
    out.destination = destination;
    out.header_length = static_cast<int>(min_ip_header_size);
    out.length = static_cast<int>(min_ip_header_size + bytes.size());
    take_icmp(bytes, out);
    return true;
}

} // namespace tiv
