#include "app/settings/external_name.h"

#include <arpa/inet.h>
#include <unistd.h>

#include "app/internal/settings/first_run.h"
#include "net/socket/net_address.h"
#include "platform/adapter_default_route.h"
#include "platform/ipv6_reach.h"

namespace tiv::app {

namespace {
bool is_any_ipv4(const std::string& host) {
    in_addr parsed{};
    return ::inet_pton(AF_INET, host.c_str(), &parsed) == 1 && parsed.s_addr == htonl(INADDR_ANY);
}

bool is_any_ipv6(const std::string& host) {
    in6_addr parsed{};
    return ::inet_pton(AF_INET6, host.c_str(), &parsed) == 1 && IN6_IS_ADDR_UNSPECIFIED(&parsed);
}
} // namespace

machine_reach this_machine_reach() {
    machine_reach reach;
    reach.route_address = reachable_ipv4_of_this_machine();
    reach.global_ipv6 = lasting_global_ipv6_of_this_machine();
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return reach;
    }
    reach.host_name = name;
    net_address local{};
    if (!resolve_address(name, default_listening_port, local)) {
        return reach;
    }
    if (local.host_name[0] != '\0') {
        reach.host_name = local.host_name;
    }
    // On many systems the host's name resolves to 127.0.1.1, which no friend can reach.
    const std::uint32_t resolved = ntohl(local.endpoint.v4.sin_addr.s_addr);
    if (local.family() == AF_INET && resolved != INADDR_ANY && (resolved >> 24) != 127) {
        reach.host_address = resolved;
    }
    return reach;
}

std::optional<std::string> following_external_name(const std::string& listening_host, const machine_reach& reach) {
    const bool any_ipv6 = is_any_ipv6(listening_host);
    if (!any_ipv6 && !is_any_ipv4(listening_host)) {
        return listening_host;
    }
    if (any_ipv6 && reach.global_ipv6) {
        return reach.global_ipv6;
    }
    if (reach.route_address) {
        return dotted_ipv4(*reach.route_address);
    }
    if (reach.host_address && !reach.host_name.empty()) {
        return reach.host_name;
    }
    return std::nullopt;
}

bool follows_listening_address(const std::string& stored, const std::string& listening_host,
                               const machine_reach& reach) {
    return stored.empty() || stored == following_external_name(listening_host, reach) ||
           (!reach.host_name.empty() && stored == reach.host_name);
}

} // namespace tiv::app
