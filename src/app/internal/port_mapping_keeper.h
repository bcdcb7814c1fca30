#pragma once

#include "app/internal/only.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "net/portmap/router_mapping.h"

namespace tiv::app {

// Keeps the home router forwarding the listening port while the listener runs: asks at once on a thread of its
// own (so the listener never waits for a router), renews at half the lifetime, asks again after a failure with a
// growing pause, follows another external port when the router grants one, and removes the mapping when it goes.
class port_mapping_keeper {
public:
    struct timing {
        std::chrono::seconds lifetime{3600};      // asked for ("PortMappingLifetime"); the router may grant less
        std::chrono::milliseconds patience{2000}; // a protocol's answer, at most
        std::chrono::seconds first_retry{30};     // after a failure, doubling up to
        std::chrono::seconds longest_retry{15 * 60};
    };

    // Told every new line, with the mapping it speaks of, on the keeper's thread.
    using publisher = std::function<void(const std::string& line, const std::optional<router_mapping>& mapping)>;

    port_mapping_keeper(std::uint16_t port, timing times, publisher publish);
    ~port_mapping_keeper();
    port_mapping_keeper(const port_mapping_keeper&) = delete;
    port_mapping_keeper& operator=(const port_mapping_keeper&) = delete;

    // "Reachable from the internet at 203.0.113.7:20000 (UPnP, router 192.168.1.1)", or why not.
    [[nodiscard]] std::string reachability() const;
    [[nodiscard]] std::optional<router_mapping> mapping() const;

private:
    void run();
    // Waits `pause` or until stopped; true when stopped.
    bool stopped_within(std::chrono::seconds pause);

    const std::uint16_t m_nPort;
    const timing m_oTimes;
    const publisher m_oPublish;
    mutable std::mutex m_oLock;
    std::condition_variable m_oWake;
    bool m_bStop = false;
    std::optional<router_mapping> m_oMapping;
    std::string m_strWhyNot;
    std::thread m_oThread;
};

// The line for a listener that asks no router: mapping turned off, or a loopback address nothing could forward to.
[[nodiscard]] std::string unmapped_reachability(bool mapping_allowed);

// The line for a mapping, or for why there is none.
[[nodiscard]] std::string reachability_words(const std::optional<router_mapping>& mapping, const std::string& why_not);

} // namespace tiv::app
