#include "app/send_destination.h"

#include <algorithm>
#include <arpa/inet.h>

#include "app/friends/profile_service.h"
#include "app/internal/destination_check.h"
#include "app/internal/program_parts.h"
#include "core/address_text.h"
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
    const result<std::vector<net_address>> destination = check_destination(host, port, resolve_all);
    if (!destination) {
        return destination.error();
    }
    return host_text(destination->front());
}

result<reverse_name> reverse_lookup(const std::string& address, std::uint32_t port) {
    in_addr parsed{};
    net_address resolved;
    const bool literal = ::inet_pton(AF_INET, address.c_str(), &parsed) == 1 ||
                         (address.find(':') != std::string::npos && !address_fault(address));
    if (port > 65535 || !literal || !resolve_address(address.c_str(), static_cast<std::uint16_t>(port), resolved)) {
        return status(status_code::unreachable, "cannot resolve '" + address + "'.");
    }
    return reverse_name{host_text(resolved), resolved.host_name};
}

} // namespace tiv::app
