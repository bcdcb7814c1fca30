#include "net/socket/net_address.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <netdb.h>

#include "core/text.h"

namespace tiv {

namespace {

// The limited broadcast address is never a peer nor an interface to listen on, so it is refused before any lookup.
constexpr const char* broadcast_text = "255.255.255.255";

struct addrinfo_deleter {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using addrinfo_list = std::unique_ptr<addrinfo, addrinfo_deleter>;

void forget(net_address& out, int error) {
    out.endpoint = {};
    out.error = error;
    out.resolved = false;
    out.host_name[0] = '\0';
}

// The endpoint of one resolver answer, when it is of a family we speak.
bool take_endpoint(const addrinfo& found, std::uint16_t port, net_address& out) {
    if (found.ai_addr == nullptr) {
        return false;
    }
    if (found.ai_family == AF_INET && found.ai_addrlen >= sizeof(sockaddr_in)) {
        std::memcpy(&out.endpoint.v4, found.ai_addr, sizeof(sockaddr_in));
    } else if (found.ai_family == AF_INET6 && found.ai_addrlen >= sizeof(sockaddr_in6)) {
        std::memcpy(&out.endpoint.v6, found.ai_addr, sizeof(sockaddr_in6));
    } else {
        return false;
    }
    out.set_port(port);
    out.resolved = true;
    return true;
}

// An address literal: its reverse-lookup name when there is one, else its own text. The address is usable
// whether or not a reverse entry exists; the name is only for showing.
void name_literal(net_address& out) {
    char name[NI_MAXHOST] = {};
    if (::getnameinfo(out.socket_address(), out.socket_length(), name, sizeof name, nullptr, 0, NI_NAMEREQD) != 0) {
        copy_text_field(out.host_name, host_text(out));
        return;
    }
    copy_text_field(out.host_name, name);
}

// An IPv6 literal, with its zone if it has one: the resolver alone reads zones ("%eth0" or "%2").
bool resolve_ipv6_literal(const char* text, std::uint16_t port, net_address& out) {
    addrinfo hints = {};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* raw = nullptr;
    const int code = ::getaddrinfo(text, nullptr, &hints, &raw);
    const addrinfo_list list(raw);
    if (code != 0 || list == nullptr || !take_endpoint(*list, port, out)) {
        forget(out, code != 0 ? code : EAI_FAIL);
        return false;
    }
    name_literal(out);
    return true;
}

bool resolve_literal(const char* name, std::uint16_t port, net_address& out, bool& was_literal) {
    in_addr address4 = {};
    was_literal = true;
    if (::inet_aton(name, &address4) != 0) {
        out.endpoint = {};
        out.endpoint.v4.sin_family = AF_INET;
        out.endpoint.v4.sin_addr = address4;
        out.set_port(port);
        out.resolved = true;
        name_literal(out);
        return true;
    }
    if (std::strchr(name, ':') != nullptr) {
        return resolve_ipv6_literal(name, port, out);
    }
    was_literal = false;
    return false;
}

addrinfo_list look_up(const char* name, int& code) {
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // Only families this machine has an address of: a name's AAAA records are no use without IPv6.
    hints.ai_flags = AI_CANONNAME | AI_ADDRCONFIG;
    addrinfo* raw = nullptr;
    code = ::getaddrinfo(name, nullptr, &hints, &raw);
    return addrinfo_list(raw);
}

bool is_v4_mapped(const net_address& address) {
    return address.is_ipv6() && IN6_IS_ADDR_V4MAPPED(&address.endpoint.v6.sin6_addr);
}

} // namespace

std::uint16_t net_address::port() const {
    switch (family()) {
    case AF_INET:
        return ntohs(endpoint.v4.sin_port);
    case AF_INET6:
        return ntohs(endpoint.v6.sin6_port);
    default:
        return 0;
    }
}

bool net_address::is_loopback() const {
    if (family() == AF_INET) {
        return (ntohl(endpoint.v4.sin_addr.s_addr) >> 24) == 127;
    }
    return is_ipv6() && IN6_IS_ADDR_LOOPBACK(&endpoint.v6.sin6_addr);
}

void net_address::set_port(std::uint16_t port) {
    if (family() == AF_INET6) {
        endpoint.v6.sin6_port = htons(port);
    } else {
        endpoint.v4.sin_port = htons(port);
    }
}

socklen_t net_address::socket_length() const {
    return is_ipv6() ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

net_address address_from(const ::sockaddr_storage& from) {
    net_address address;
    if (from.ss_family == AF_INET) {
        std::memcpy(&address.endpoint.v4, &from, sizeof(sockaddr_in));
    } else if (from.ss_family == AF_INET6) {
        std::memcpy(&address.endpoint.v6, &from, sizeof(sockaddr_in6));
    } else {
        return address;
    }
    address.resolved = true;
    return address;
}

bool resolve_address(const char* name, std::uint16_t port, net_address& out) {
    if (name != nullptr && std::strcmp(name, broadcast_text) == 0) {
        out.resolved = false;
        return false;
    }
    if (name == nullptr) {
        forget(out, EAI_NONAME);
        return false;
    }
    bool was_literal = false;
    if (resolve_literal(name, port, out, was_literal) || was_literal) {
        return out.resolved;
    }
    int code = 0;
    const addrinfo_list list = look_up(name, code);
    for (const addrinfo* found = list.get(); code == 0 && found != nullptr; found = found->ai_next) {
        if (take_endpoint(*found, port, out)) {
            copy_text_field(out.host_name, list->ai_canonname != nullptr ? list->ai_canonname : name);
            return true;
        }
    }
    forget(out, code != 0 ? code : EAI_FAIL);
    return false;
}

resolved_names resolve_all(const std::string& name, std::uint16_t port) {
    resolved_names names;
    net_address literal;
    bool was_literal = false;
    if (name == broadcast_text) {
        names.error = EAI_NONAME;
        return names;
    }
    if (resolve_literal(name.c_str(), port, literal, was_literal) || was_literal) {
        if (literal.resolved) {
            names.addresses.push_back(literal);
        } else {
            names.error = literal.error;
        }
        return names;
    }
    int code = 0;
    const addrinfo_list list = look_up(name.c_str(), code);
    for (const addrinfo* found = list.get(); code == 0 && found != nullptr; found = found->ai_next) {
        net_address address;
        if (take_endpoint(*found, port, address)) {
            copy_text_field(address.host_name, list->ai_canonname != nullptr ? list->ai_canonname : name.c_str());
            names.addresses.push_back(address);
        }
    }
    if (names.addresses.empty()) {
        names.error = code != 0 ? code : EAI_FAIL;
    }
    names.addresses = interleave_families(std::move(names.addresses));
    return names;
}

std::vector<net_address> interleave_families(std::vector<net_address> addresses) {
    if (addresses.empty()) {
        return addresses;
    }
    // IPv6 goes first even where the resolver put IPv4 first: a home's IPv6 address is often its only direct one.
    std::vector<net_address> first;
    std::vector<net_address> second;
    for (net_address& address : addresses) {
        (address.is_ipv6() ? first : second).push_back(std::move(address));
    }
    std::vector<net_address> turns;
    turns.reserve(first.size() + second.size());
    for (std::size_t i = 0; i < std::max(first.size(), second.size()); ++i) {
        if (i < first.size()) {
            turns.push_back(first[i]);
        }
        if (i < second.size()) {
            turns.push_back(second[i]);
        }
    }
    return turns;
}

std::string dotted_ipv4(std::uint32_t address_host_order) {
    in_addr address{};
    address.s_addr = htonl(address_host_order);
    char dotted[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &address, dotted, sizeof dotted) != nullptr ? std::string(dotted) : std::string();
}

std::string host_text(const net_address& address) {
    if (address.family() != AF_INET && address.family() != AF_INET6) {
        return dotted_ipv4(0);
    }
    char text[NI_MAXHOST] = {};
    // Numeric text gives a link-local address its zone by the interface's name ("fe80::1%eth0").
    if (::getnameinfo(address.socket_address(), address.socket_length(), text, sizeof text, nullptr, 0,
                      NI_NUMERICHOST) != 0) {
        return std::string();
    }
    return text;
}

std::string endpoint_text(const net_address& address) {
    const std::string port = std::to_string(address.port());
    return address.is_ipv6() ? "[" + host_text(address) + "]:" + port : host_text(address) + ":" + port;
}

bool lacks_zone(const net_address& address) {
    return address.is_ipv6() && IN6_IS_ADDR_LINKLOCAL(&address.endpoint.v6.sin6_addr) &&
           address.endpoint.v6.sin6_scope_id == 0;
}

bool is_unspecified(const net_address& address) {
    const net_address plain = unmapped(address);
    return plain.is_ipv6() ? IN6_IS_ADDR_UNSPECIFIED(&plain.endpoint.v6.sin6_addr)
                           : plain.endpoint.v4.sin_addr.s_addr == htonl(INADDR_ANY);
}

net_address unmapped(const net_address& address) {
    if (!is_v4_mapped(address)) {
        return address;
    }
    net_address plain = address;
    plain.endpoint = {};
    plain.endpoint.v4.sin_family = AF_INET;
    plain.endpoint.v4.sin_port = address.endpoint.v6.sin6_port;
    std::memcpy(&plain.endpoint.v4.sin_addr, &address.endpoint.v6.sin6_addr.s6_addr[12], sizeof(in_addr));
    return plain;
}

} // namespace tiv
