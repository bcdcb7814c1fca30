#pragma once

#include <cstdint>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace tiv {

// A socket address of either family, as the kernel takes and gives it.
union ip_endpoint {
    ::sockaddr any;
    sockaddr_in v4;
    sockaddr_in6 v6;
};

// A resolved IPv4 or IPv6 endpoint. A plain value: windows and threads copy it whole.
struct net_address {
    // Canonical name from the resolver, or the text of an address without a reverse entry; at most 127
    // characters. Empty after a failed name lookup.
    char host_name[128] = {};
    // Family, port and address in network byte order; an IPv6 address keeps its zone (scope id). All zero after a
    // failed lookup.
    ip_endpoint endpoint = {};
    bool resolved = false;
    // The resolver's EAI_* code of the last failed resolution (gai_strerror describes it).
    int error = 0;

    [[nodiscard]] int family() const { return endpoint.any.sa_family; }
    [[nodiscard]] bool is_ipv6() const { return family() == AF_INET6; }
    // In host order; 0 for an address of neither family.
    [[nodiscard]] std::uint16_t port() const;
    void set_port(std::uint16_t port);
    // 127.0.0.0/8 or ::1: reachable from this computer only.
    [[nodiscard]] bool is_loopback() const;
    [[nodiscard]] const ::sockaddr* socket_address() const { return &endpoint.any; }
    // The length the kernel expects with socket_address(): that of the family's own structure.
    [[nodiscard]] socklen_t socket_length() const;
};

// The endpoint the kernel wrote into `from` (accept, getsockname, recvfrom); unresolved when it is of neither family.
[[nodiscard]] net_address address_from(const ::sockaddr_storage& from);

// Resolves a host name, a dotted quad or an IPv6 address (with a zone, "fe80::1%eth0", for a link-local one) to
// its first address; `port` is in host order. The broadcast address "255.255.255.255" is refused without a lookup
// and leaves everything but `resolved` as it was. An address always resolves to itself; its reverse-lookup name,
// when there is one, becomes `host_name`. Thread-safe.
[[nodiscard]] bool resolve_address(const char* name, std::uint16_t port, net_address& out);

// Every address of a name, in the order a connection should try them (IPv6 and IPv4 taking turns, IPv6 first, as
// Happy Eyeballs wants), or an address literal alone; empty with the EAI_* code in `error` when none.
struct resolved_names {
    std::vector<net_address> addresses;
    int error = 0;
};
[[nodiscard]] resolved_names resolve_all(const std::string& name, std::uint16_t port);

// What resolves a destination's name: resolve_all, unless a test answers in its place.
using name_resolver = std::function<resolved_names(const std::string& name, std::uint16_t port)>;

// True for an IPv6 link-local address (fe80::/10) without the zone that says which interface reaches it.
[[nodiscard]] bool lacks_zone(const net_address& address);

// True for the address that names no computer: 0.0.0.0 or "::".
[[nodiscard]] bool is_unspecified(const net_address& address);

// Puts the families in turns, the first family of the list first, keeping each family's own order.
[[nodiscard]] std::vector<net_address> interleave_families(std::vector<net_address> addresses);

// The dotted text of an address given in host byte order; empty for none.
[[nodiscard]] std::string dotted_ipv4(std::uint32_t address_host_order);

// "127.0.0.1", "::1" or "fe80::1%eth0": a resolved address without its port.
[[nodiscard]] std::string host_text(const net_address& address);

// "127.0.0.1:8001" or "[::1]:8001": an endpoint as a user can check it.
[[nodiscard]] std::string endpoint_text(const net_address& address);

// An IPv4 address mapped into IPv6 ("::ffff:127.0.0.1", as a dual-stack listener sees IPv4 peers) as the IPv4
// address it stands for; any other address as it is.
[[nodiscard]] net_address unmapped(const net_address& address);

} // namespace tiv
