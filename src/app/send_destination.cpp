#include "app/send_destination.h"

#include <algorithm>
#include <arpa/inet.h>

#include "app/friends/profile_service.h"
#include "app/internal/destination_check.h"
#include "app/internal/program_parts.h"
#include "settings/friend_profile.h"
#include "settings/qvl_settings_data.h"

namespace tiv::app {

std::vector<std::string> destination_choices(program& p) {
    std::vector<std::string> friends = list_profiles(settings_of(p));
    std::sort(friends.begin(), friends.end());
    std::vector<std::string> choices{manual_destination, loopback_destination};
    choices.insert(choices.end(), friends.begin(), friends.end());
    return choices;
}

bool is_manual_destination(const std::string& entry) {
    return entry == manual_destination || entry == loopback_destination;
}

result<friend_address> stored_friend_address(program& p, const std::string& name) {
    result<friend_record> found = read_friend(p, name);
    if (!found) {
        return found.error();
    }
    return friend_address{found->address, static_cast<std::uint32_t>(found->port)};
}

result<std::string> resolve_destination(const std::string& host, std::uint32_t port) {
    const result<net_address> destination = check_destination(host, port);
    if (!destination) {
        return destination.error();
    }
    return dotted_address(*destination);
}

result<reverse_name> reverse_lookup(const std::string& address, std::uint32_t port) {
    in_addr parsed{};
    net_address resolved;
    if (port > 65535 || ::inet_pton(AF_INET, address.c_str(), &parsed) != 1 ||
        !resolve_ipv4(ntohl(parsed.s_addr), static_cast<std::uint16_t>(port), resolved)) {
        return status(status_code::unreachable, "cannot resolve '" + address + "'.");
    }
    return reverse_name{dotted_address(resolved), resolved.host_name};
}

} // namespace tiv::app
