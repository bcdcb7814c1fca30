#include "net/socket/net_address.h"

#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <sys/socket.h>

#include "core/text.h"

namespace tiv {

namespace {

// The limited broadcast address is never a peer nor an interface to listen on, so it is refused before any lookup.
constexpr const char* broadcast_text = "255.255.255.255";

struct addrinfo_deleter {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using addrinfo_list = std::unique_ptr<addrinfo, addrinfo_deleter>;

void fill_endpoint(net_address& out, in_addr address, std::uint16_t port) {
    out.sockaddr.sin_family = AF_INET;
    out.sockaddr.sin_port = htons(port);
    out.sockaddr.sin_addr = address;
    out.resolved = true;
}

bool resolve_dotted(in_addr address, std::uint16_t port, net_address& out) {
    // The address is usable whether or not a reverse entry exists; the name is only for showing.
    sockaddr_in query = {};
    query.sin_family = AF_INET;
    query.sin_addr = address;
    char name[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<const ::sockaddr*>(&query), sizeof query, name, sizeof name, nullptr, 0,
                      NI_NAMEREQD) != 0) {
        ::inet_ntop(AF_INET, &address, name, sizeof name);
    }
    copy_text_field(out.host_name, name);
    fill_endpoint(out, address, port);
    return true;
}

bool resolve_name(const char* name, std::uint16_t port, net_address& out) {
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* raw = nullptr;
    const int code = ::getaddrinfo(name, nullptr, &hints, &raw);
    const addrinfo_list list(raw);
    if (code != 0 || list == nullptr || list->ai_addr == nullptr || list->ai_addrlen < sizeof(sockaddr_in)) {
        out.error = code != 0 ? code : EAI_FAIL;
        out.resolved = false;
        out.host_name[0] = '\0';
        return false;
    }
    const auto* found = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
    copy_text_field(out.host_name, list->ai_canonname != nullptr ? list->ai_canonname : name);
    fill_endpoint(out, found->sin_addr, port);
    return true;
}

} // namespace

bool resolve_address(const char* name, std::uint16_t port, net_address& out) {
    if (name != nullptr && std::strcmp(name, broadcast_text) == 0) {
        out.resolved = false;
        return false;
    }
    out.sockaddr = {};
    if (name == nullptr) {
        out.error = EAI_NONAME;
        out.resolved = false;
        out.host_name[0] = '\0';
        return false;
    }
    in_addr address = {};
    if (::inet_aton(name, &address) != 0) {
        return resolve_dotted(address, port, out);
    }
    return resolve_name(name, port, out);
}

std::string dotted_ipv4(std::uint32_t address_host_order) {
    in_addr address{};
    address.s_addr = htonl(address_host_order);
    char dotted[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &address, dotted, sizeof dotted) != nullptr ? std::string(dotted) : std::string();
}

std::string dotted_address(const net_address& address) {
    return dotted_ipv4(ntohl(address.sockaddr.sin_addr.s_addr));
}

std::string endpoint_text(const net_address& address) {
    return dotted_address(address) + ":" + std::to_string(ntohs(address.sockaddr.sin_port));
}

bool resolve_ipv4(std::uint32_t address_host_order, std::uint16_t port, net_address& out) {
    return resolve_address(dotted_ipv4(address_host_order).c_str(), port, out);
}

} // namespace tiv
