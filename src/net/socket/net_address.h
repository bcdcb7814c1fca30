#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>

namespace tiv {

// A resolved IPv4 endpoint. A plain value: windows and threads copy it whole.
struct net_address {
    // Canonical name from the resolver, or the dotted text of an address without a reverse entry; at most 127
    // characters. Empty after a failed name lookup.
    char host_name[128] = {};
    // Family, port and address in network byte order. All zero after a failed lookup.
    sockaddr_in sockaddr = {};
    bool resolved = false;
    // The resolver's EAI_* code of the last failed resolution (gai_strerror describes it).
    int error = 0;
};

// Resolves a host name or dotted quad; `port` is in host order. The broadcast address "255.255.255.255" is refused
// without a lookup and leaves everything but `resolved` as it was. A dotted quad always resolves to itself; its
// reverse-lookup name, when there is one, becomes `host_name`. Thread-safe.
[[nodiscard]] bool resolve_address(const char* name, std::uint16_t port, net_address& out);

// The dotted text of an address given in host byte order; empty for none.
[[nodiscard]] std::string dotted_ipv4(std::uint32_t address_host_order);

// "127.0.0.1": a resolved address without its port.
[[nodiscard]] std::string dotted_address(const net_address& address);

// "127.0.0.1:8001": an endpoint as a user can check it.
[[nodiscard]] std::string endpoint_text(const net_address& address);

// Resolves an address given in host byte order (as an address entry field holds it) through its dotted text.
[[nodiscard]] bool resolve_ipv4(std::uint32_t address_host_order, std::uint16_t port, net_address& out);

} // namespace tiv
