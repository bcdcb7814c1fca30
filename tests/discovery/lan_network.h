#pragma once

#include <array>
#include <memory>
#include <string>

namespace tiv::test {

class spawned_daemon;

// Two private network namespaces joined by a veth pair (10.77.1.1 and 10.77.1.2, addresses that exist nowhere
// else), each with an Avahi daemon of its own on a D-Bus system bus of its own. Everything goes with the object.
class lan_network {
public:
    struct side {
        std::string netns;
        std::string address;
        std::string bus; // what DBUS_SYSTEM_BUS_ADDRESS names
    };

    // Empty `why` when both daemons are up; otherwise the reason. `unavailable` tells a machine that cannot have
    // such a network (not root, no namespaces) from a network that failed to come up.
    lan_network(std::string& why, bool& unavailable);
    lan_network(const lan_network&) = delete;
    lan_network& operator=(const lan_network&) = delete;
    ~lan_network();

    [[nodiscard]] const side& at(std::size_t index) const { return m_aSides.at(index); }

private:
    [[nodiscard]] bool start_daemons(std::size_t index, const std::string& veth, std::string& why);

    std::string m_strWork;
    std::array<side, 2> m_aSides;
    std::array<std::unique_ptr<spawned_daemon>, 4> m_aDaemons;
};

// While it lives, processes this thread starts run in `side`'s namespace and talk to its system bus.
class inside {
public:
    explicit inside(const lan_network::side& side);
    inside(const inside&) = delete;
    inside& operator=(const inside&) = delete;
    ~inside();

private:
    int m_nHome = -1;
};

} // namespace tiv::test
