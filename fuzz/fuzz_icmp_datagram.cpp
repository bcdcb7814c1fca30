// ICMP messages as ping sockets deliver them: with their IP header from a raw socket, without it from the kernel's
// datagram socket, and ICMPv6 messages, which come without their header from both. The first byte chooses the
// kind; the rest is the datagram. Error messages quote the request
// they concern, and that quote is read only where it lies inside the datagram.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_support.h"
#include "presence/icmp_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tiv;
    if (size < 1) {
        return 0;
    }
    // A copy of exactly the datagram's length, so any read past it is caught.
    const std::vector<std::uint8_t> datagram(data + 1, data + size);
    icmp_datagram parsed;
    if (data[0] % 3 == 2) {
        sockaddr_in6 source{};
        source.sin6_family = AF_INET6;
        source.sin6_addr = in6addr_loopback;
        if (!parse_icmpv6_message(datagram, source, in6addr_loopback, parsed)) {
            return 0;
        }
        FUZZ_CHECK(parsed.ipv6() && parsed.length == static_cast<int>(datagram.size()) + 40);
    } else if (data[0] % 3 == 0) {
        if (!parse_ip_datagram(datagram, parsed)) {
            return 0;
        }
        FUZZ_CHECK(parsed.header_length >= 20 && parsed.header_length <= 60);
        FUZZ_CHECK(static_cast<std::size_t>(parsed.header_length) + 8 <= datagram.size());
        FUZZ_CHECK(parsed.length == static_cast<int>(datagram.size()));
    } else {
        in_addr source{};
        source.s_addr = 0x0100007F;
        in_addr destination{};
        destination.s_addr = 0x0200007F;
        if (!parse_icmp_message(datagram, source, destination, parsed)) {
            return 0;
        }
        FUZZ_CHECK(parsed.source.v4.sin_addr.s_addr == source.s_addr &&
                   parsed.destination.v4.sin_addr.s_addr == destination.s_addr);
        FUZZ_CHECK(parsed.length == static_cast<int>(datagram.size()) + 20);
    }
    if (parsed.is_echo_reply()) {
        FUZZ_CHECK(parsed.names_request);
    }
    // A request built with what was named parses back to the same identifier and sequence.
    if (parsed.names_request) {
        std::vector<std::uint8_t> request = build_echo_request(parsed.identifier, parsed.sequence, min_request_length);
        request[0] = icmpv4.echo_reply;
        icmp_datagram echoed;
        FUZZ_CHECK(parse_icmp_message(request, {}, {}, echoed));
        FUZZ_CHECK(echoed.names_request && echoed.identifier == parsed.identifier &&
                   echoed.sequence == parsed.sequence);
    }
    return 0;
}
