#include "app/lan_friends.h"

#include "app/friends/profile_service.h"
#include "app/internal/program_parts.h"

namespace tiv::app {

std::vector<lan_friend> friends_on_lan(program& p) {
    std::vector<lan_friend> found;
    const std::shared_ptr<lan_neighbours> lan = lan_of(p);
    const result<std::vector<friend_summary>> friends = list_friends(p);
    if (lan == nullptr || !friends) {
        return found;
    }
    for (const friend_summary& one : *friends) {
        const std::vector<net_address> addresses = lan->addresses_of(one.uuid);
        if (!addresses.empty()) {
            found.push_back({one.name, host_text(addresses.front()), addresses.front().port()});
        }
    }
    return found;
}

std::string lan_words(const lan_friend& found) {
    return "on the LAN at " + found.host;
}

} // namespace tiv::app
