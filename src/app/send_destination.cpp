#include "app/send_destination.h"

#include <algorithm>
#include <arpa/inet.h>
#include <optional>

#include "app/friends/profile_service.h"
#include "app/internal/destination_check.h"
#include "app/internal/program_parts.h"
#include "app/lan_friends.h"
#include "core/address_text.h"
#include "settings/friend_profile.h"
#include "settings/qvl_settings_data.h"

namespace tiv::app {

namespace {
std::string lan_entry(const lan_friend& found) {
    return found.name + " [" + lan_words(found) + "]";
}

// The LAN entry `entry` names, as announced now.
std::optional<lan_friend> lan_destination(program& p, const std::string& entry) {
    for (lan_friend& found : friends_on_lan(p)) {
        if (lan_entry(found) == entry) {
            return std::move(found);
        }
    }
    return std::nullopt;
}
} // namespace

std::vector<std::string> destination_choices(program& p) {
    std::vector<std::string> friends = list_profiles(settings_of(p));
    std::sort(friends.begin(), friends.end());
    std::vector<std::string> choices{manual_destination, loopback_destination};
    choices.insert(choices.end(), friends.begin(), friends.end());
    for (const lan_friend& found : friends_on_lan(p)) {
        choices.push_back(lan_entry(found));
    }
    return choices;
}

std::string destination_friend(program& p, const std::string& entry) {
    const std::optional<lan_friend> found = lan_destination(p, entry);
    return found ? found->name : entry;
}

bool is_manual_destination(const std::string& entry) {
    return entry == manual_destination || entry == loopback_destination;
}

result<friend_address> stored_friend_address(program& p, const std::string& name) {
    if (const std::optional<lan_friend> on_lan = lan_destination(p, name)) {
        return friend_address{on_lan->host, on_lan->port};
    }
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
