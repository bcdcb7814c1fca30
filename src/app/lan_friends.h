#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tiv::app {

class program;

// A friend whose UUID is announced on the LAN now, and where. The announcement proves nothing: a send there is
// authenticated like any other.
struct lan_friend {
    std::string name;
    std::string host; // "192.168.1.23", the first address announced
    std::uint32_t port = 0;
};

// The stored friends announced on the LAN now, in profile order; empty without an Avahi daemon. The program
// watches the LAN from start() on.
[[nodiscard]] std::vector<lan_friend> friends_on_lan(program& p);

// "on the LAN at 192.168.1.23"
[[nodiscard]] std::string lan_words(const lan_friend& found);

} // namespace tiv::app
