#pragma once

#include <string>

namespace tiv::test {

// The network lan_network.sh makes: two namespaces on one veth pair, each with its own Avahi daemon and system bus.
// Everything goes with the object.
class lan_network {
public:
    struct side {
        std::string netns;
        std::string address;
        std::string bus; // what DBUS_SYSTEM_BUS_ADDRESS names
    };

    // Empty `why` when both daemons are up; otherwise the reason, and `unavailable` when this machine cannot have
    // such a network (not root, no namespaces) rather than the network failing to come up.
    lan_network(std::string& why, bool& unavailable);
    lan_network(const lan_network&) = delete;
    lan_network& operator=(const lan_network&) = delete;
    ~lan_network();

    [[nodiscard]] side at(std::size_t index) const;
    // A directory of the network's own for the test's files too.
    [[nodiscard]] const std::string& work() const { return m_strWork; }

private:
    std::string m_strWork;
    std::string m_strId;
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
