#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>

#include "presence/icmp_message.h"
#include "presence/ping.h"

namespace tiv {
namespace {

in_addr ip(const char* text) {
    in_addr address = {};
    EXPECT_EQ(::inet_pton(AF_INET, text, &address), 1);
    return address;
}

// An IPv4 datagram as a raw socket reads it: header (with `options` extra bytes), then `icmp`.
std::vector<std::uint8_t> ip_datagram(const char* source, const char* destination, std::vector<std::uint8_t> icmp,
                                      std::size_t options = 0, std::uint8_t protocol = IPPROTO_ICMP) {
    std::vector<std::uint8_t> bytes(20 + options, 0);
    bytes[0] = static_cast<std::uint8_t>(0x40 | ((20 + options) / 4));
    bytes[9] = protocol;
    const in_addr from = ip(source);
    const in_addr to = ip(destination);
    std::memcpy(&bytes[12], &from, 4);
    std::memcpy(&bytes[16], &to, 4);
    bytes.insert(bytes.end(), icmp.begin(), icmp.end());
    return bytes;
}

std::vector<std::uint8_t> echo_reply(std::uint16_t identifier, std::uint16_t sequence, std::uint16_t length = 64) {
    std::vector<std::uint8_t> message = build_echo_request(identifier, sequence, length);
    message[0] = icmpv4.echo_reply;
    return message;
}

// A Time Exceeded message quoting the header of an echo request with these fields.
std::vector<std::uint8_t> time_exceeded(std::uint16_t identifier, std::uint16_t sequence) {
    std::vector<std::uint8_t> message = {icmpv4.time_exceeded, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<std::uint8_t> request = build_echo_request(identifier, sequence, 64);
    const std::vector<std::uint8_t> quoted =
        ip_datagram("10.0.0.1", "192.0.2.9", {request.begin(), request.begin() + 8});
    message.insert(message.end(), quoted.begin(), quoted.end());
    return message;
}

TEST(IcmpMessage, ChecksumKnownAnswers) {
    // RFC 1071's worked example sums to 0xddf2.
    const std::uint8_t rfc[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(internet_checksum(rfc), 0x220d);
    const std::uint8_t odd[] = {0x01};
    EXPECT_EQ(internet_checksum(odd), 0xfeff) << "an odd last byte counts as the high half of a word";

    const std::vector<std::uint8_t> request = build_echo_request(0x1234, 0x0001, 12);
    const std::vector<std::uint8_t> expected = {8, 0, 0xe5, 0xca, 0x12, 0x34, 0x00, 0x01, 0, 0, 0, 0};
    EXPECT_EQ(request, expected);
    EXPECT_EQ(internet_checksum(build_echo_request(0xbeef, 0x7fff, 64)), 0) << "a message with its checksum sums to 0";
}

TEST(IcmpMessage, RequestLengthIsForcedIntoRange) {
    EXPECT_EQ(build_echo_request(1, 1, clamp_request_length(200)).size(), 128U);
    EXPECT_EQ(build_echo_request(1, 1, clamp_request_length(4)).size(), 12U);
    EXPECT_EQ(build_echo_request(1, 1, clamp_request_length(64)).size(), 64U);
    EXPECT_EQ(clamp_request_length(-5), 12);
}

TEST(IcmpMessage, EchoReplyIsTakenApartBehindHeadersOfAnyLength) {
    for (std::size_t options : {0U, 4U, 40U}) {
        const std::vector<std::uint8_t> bytes =
            ip_datagram("127.0.0.2", "127.0.0.1", echo_reply(0x0401, 0x2a2b), options);
        icmp_datagram parsed;
        ASSERT_TRUE(parse_ip_datagram(bytes, parsed)) << options;
        EXPECT_EQ(parsed.source.v4.sin_addr.s_addr, ip("127.0.0.2").s_addr);
        EXPECT_EQ(parsed.destination.v4.sin_addr.s_addr, ip("127.0.0.1").s_addr);
        EXPECT_EQ(parsed.header_length, static_cast<int>(20 + options));
        EXPECT_EQ(parsed.length, static_cast<int>(bytes.size()));
        EXPECT_EQ(parsed.type, icmpv4.echo_reply);
        EXPECT_TRUE(parsed.names_request);
        EXPECT_EQ(parsed.identifier, 0x0401);
        EXPECT_EQ(parsed.sequence, 0x2a2b);
        EXPECT_EQ(std::memcmp(&parsed.icmp_word2, &bytes[20 + options + 4], 4), 0) << "kept as received";
    }
}

TEST(IcmpMessage, MalformedDatagramsAreRefused) {
    icmp_datagram parsed;
    const std::vector<std::uint8_t> good = ip_datagram("127.0.0.1", "127.0.0.1", echo_reply(1, 2));
    EXPECT_FALSE(parse_ip_datagram(std::span(good).first(27), parsed)) << "header plus 7 ICMP bytes";
    EXPECT_TRUE(parse_ip_datagram(std::span(good).first(28), parsed));
    EXPECT_FALSE(parse_ip_datagram({}, parsed));

    std::vector<std::uint8_t> v6 = good;
    v6[0] = 0x65;
    EXPECT_FALSE(parse_ip_datagram(v6, parsed));
    std::vector<std::uint8_t> tiny_header = good;
    tiny_header[0] = 0x44;
    EXPECT_FALSE(parse_ip_datagram(tiny_header, parsed)) << "an IHL below 5";
    std::vector<std::uint8_t> huge_header = good;
    huge_header[0] = 0x4f;
    EXPECT_FALSE(parse_ip_datagram(std::span(huge_header).first(40), parsed)) << "header longer than the datagram";
}

TEST(IcmpMessage, ErrorMessagesNameTheRequestTheyQuote) {
    icmp_datagram parsed;
    ASSERT_TRUE(parse_ip_datagram(ip_datagram("10.0.0.254", "10.0.0.1", time_exceeded(0x1111, 0x2222)), parsed));
    EXPECT_EQ(parsed.type, icmpv4.time_exceeded);
    EXPECT_TRUE(parsed.names_request);
    EXPECT_EQ(parsed.identifier, 0x1111);
    EXPECT_EQ(parsed.sequence, 0x2222);

    std::vector<std::uint8_t> cut = time_exceeded(0x1111, 0x2222);
    cut.resize(cut.size() - 3);
    ASSERT_TRUE(parse_ip_datagram(ip_datagram("10.0.0.254", "10.0.0.1", cut), parsed));
    EXPECT_FALSE(parsed.names_request) << "a quote cut short names nothing";

    std::vector<std::uint8_t> udp = time_exceeded(0x1111, 0x2222);
    udp[8 + 9] = IPPROTO_UDP;
    ASSERT_TRUE(parse_ip_datagram(ip_datagram("10.0.0.254", "10.0.0.1", udp), parsed));
    EXPECT_FALSE(parsed.names_request) << "a quoted UDP datagram is no echo request";

    std::vector<std::uint8_t> redirect = time_exceeded(0x1111, 0x2222);
    redirect[0] = 5;
    ASSERT_TRUE(parse_ip_datagram(ip_datagram("10.0.0.254", "10.0.0.1", redirect), parsed));
    EXPECT_FALSE(parsed.names_request) << "a redirect does not answer the request";
}

TEST(IcmpMessage, DatagramSocketMessagesCountAPlainHeader) {
    icmp_datagram parsed;
    const std::vector<std::uint8_t> reply = echo_reply(9, 10, 64);
    ASSERT_TRUE(parse_icmp_message(reply, ip("127.0.0.3"), ip("127.0.0.1"), parsed));
    EXPECT_EQ(parsed.header_length, 20);
    EXPECT_EQ(parsed.length, 84);
    EXPECT_EQ(parsed.source.v4.sin_addr.s_addr, ip("127.0.0.3").s_addr);
    EXPECT_FALSE(parse_icmp_message(std::span(reply).first(7), {}, {}, parsed));
}

TEST(IcmpMessage, Icmpv6MessagesAreReadWithTheirOwnTypesAndQuotes) {
    sockaddr_in6 from = {};
    from.sin6_family = AF_INET6;
    from.sin6_addr = in6addr_loopback;
    icmp_datagram parsed;
    std::vector<std::uint8_t> reply = build_echo_request(9, 10, 64, AF_INET6);
    EXPECT_EQ(reply[0], icmpv6.echo_request);
    reply[0] = icmpv6.echo_reply;
    ASSERT_TRUE(parse_icmpv6_message(reply, from, in6addr_loopback, parsed));
    EXPECT_TRUE(parsed.ipv6() && parsed.is_echo_reply() && parsed.names_request);
    EXPECT_EQ(parsed.length, 104) << "a 40-byte IPv6 header counted in front";
    EXPECT_EQ(parsed.sequence, 10);

    // Time exceeded quoting the IPv6 header and the first 8 bytes of our request; with another next header in
    // the quote the request cannot be found.
    std::vector<std::uint8_t> exceeded = {icmpv6.time_exceeded, 0, 0, 0, 0, 0, 0, 0};
    exceeded.resize(8 + 40);
    exceeded[8] = 0x60;
    exceeded[8 + 6] = 58;
    const std::vector<std::uint8_t> request = build_echo_request(0x0401, 0x2a2b, 64, AF_INET6);
    exceeded.insert(exceeded.end(), request.begin(), request.begin() + 8);
    ASSERT_TRUE(parse_icmpv6_message(exceeded, from, in6addr_loopback, parsed));
    EXPECT_TRUE(parsed.is_time_exceeded() && !parsed.is_echo_reply() && parsed.names_request);
    EXPECT_EQ(parsed.identifier, 0x0401);
    exceeded[8 + 6] = 0; // a hop-by-hop options header
    ASSERT_TRUE(parse_icmpv6_message(exceeded, from, in6addr_loopback, parsed));
    EXPECT_FALSE(parsed.names_request);
    EXPECT_FALSE(parse_icmpv6_message(std::span(reply).first(7), from, in6addr_loopback, parsed));
}

TEST(PingMatching, SweepRepliesGoToTheirRecord) {
    std::vector<ping_record> records(3);
    const char* addresses[] = {"127.0.0.1", "127.0.0.2", "127.0.0.2"};
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].identifier = ping_identifier_for_row(i);
        records[i].destination.endpoint.v4.sin_family = AF_INET;
        records[i].destination.endpoint.v4.sin_addr = ip(addresses[i]);
    }
    const auto reply_for = [](const char* source, echo_fields fields) {
        icmp_datagram parsed;
        EXPECT_TRUE(parse_ip_datagram(ip_datagram(source, "127.0.0.1", echo_reply(fields.identifier, fields.sequence)),
                                      parsed));
        return parsed;
    };
    for (icmp_socket_kind kind : {icmp_socket_kind::raw, icmp_socket_kind::datagram}) {
        const echo_fields third = sweep_request_fields(kind, 1026);
        EXPECT_EQ(find_replied_record(records, reply_for("127.0.0.2", third), kind), 2U);
        EXPECT_EQ(find_replied_record(records, reply_for("127.0.0.1", third), kind), 3U) << "from another address";
        EXPECT_EQ(find_replied_record(records, reply_for("127.0.0.2", sweep_request_fields(kind, 1030)), kind), 3U)
            << "an identifier no record has is dropped";
    }
    // On a raw socket every ICMP message of the host arrives: another program's reply with our identifier but its
    // own sequence number is not ours.
    const echo_fields foreign{1026, static_cast<std::uint16_t>(ping_process_tag() + 1)};
    EXPECT_EQ(find_replied_record(records, reply_for("127.0.0.2", foreign), icmp_socket_kind::raw), 3U);

    icmp_datagram exceeded;
    ASSERT_TRUE(
        parse_ip_datagram(ip_datagram("127.0.0.2", "127.0.0.1", time_exceeded(1026, ping_process_tag())), exceeded));
    EXPECT_EQ(find_replied_record(records, exceeded, icmp_socket_kind::raw), 3U) << "sweeps accept echo replies only";
}

TEST(PingMatching, SingleRequestsCompareIdentifierOnlyOnRawSockets) {
    icmp_datagram reply;
    ASSERT_TRUE(parse_ip_datagram(ip_datagram("127.0.0.1", "127.0.0.1", echo_reply(7, 8)), reply));
    EXPECT_TRUE(answers_request(reply, {7, 8}, icmp_socket_kind::raw));
    EXPECT_FALSE(answers_request(reply, {6, 8}, icmp_socket_kind::raw));
    EXPECT_FALSE(answers_request(reply, {7, 9}, icmp_socket_kind::raw));
    EXPECT_TRUE(answers_request(reply, {6, 8}, icmp_socket_kind::datagram)) << "the kernel owns that identifier";

    icmp_datagram request;
    ASSERT_TRUE(parse_ip_datagram(ip_datagram("127.0.0.1", "127.0.0.1", build_echo_request(7, 8, 64)), request));
    EXPECT_FALSE(answers_request(request, {7, 8}, icmp_socket_kind::raw)) << "our own request seen on loopback";
}

} // namespace
} // namespace tiv
