#include "app/internal/port_mapping_keeper.h"

#include <algorithm>
#include <utility>

#include "core/address_text.h"
#include "log/activity_log.h"

namespace tiv::app {

std::string unmapped_reachability(bool mapping_allowed) {
    return mapping_allowed ? "Not reachable from the internet: listening on a loopback address"
                           : "Not reachable from the internet through the router: \"PortMapping\" is 0";
}

std::string reachability_words(const std::optional<router_mapping>& mapping, const std::string& why_not) {
    if (mapping) {
        return "Reachable from the internet at " + endpoint_words(mapping->external_address, mapping->external_port) +
               " (" + mapping->method + ", router " + mapping->router + ")";
    }
    return why_not.empty() ? "Asking the router to forward the listening port"
                           : "Not reachable from the internet: " + why_not;
}

port_mapping_keeper::port_mapping_keeper(std::uint16_t port, timing times, publisher publish)
    : m_nPort(port), m_oTimes(times), m_oPublish(std::move(publish)), m_oThread([this] { run(); }) {}

port_mapping_keeper::~port_mapping_keeper() {
    {
        std::lock_guard guard(m_oLock);
        m_bStop = true;
    }
    m_oWake.notify_all();
    m_oThread.join();
}

std::string port_mapping_keeper::reachability() const {
    std::lock_guard guard(m_oLock);
    return reachability_words(m_oMapping, m_strWhyNot);
}

std::optional<router_mapping> port_mapping_keeper::mapping() const {
    std::lock_guard guard(m_oLock);
    return m_oMapping;
}

bool port_mapping_keeper::stopped_within(std::chrono::seconds pause) {
    std::unique_lock guard(m_oLock);
    return m_oWake.wait_for(guard, pause, [this] { return m_bStop; });
}

void port_mapping_keeper::run() {
    std::optional<router_mapping> held;
    std::chrono::seconds retry = m_oTimes.first_retry;
    for (;;) {
        const mapping_attempt attempt =
            held ? renew_mapping(*held, m_oTimes.patience) : map_port(m_nPort, m_oTimes.lifetime, m_oTimes.patience);
        std::chrono::seconds pause = retry;
        if (attempt.mapping) {
            if (!held || held->external_port != attempt.mapping->external_port ||
                held->external_address != attempt.mapping->external_address) {
                log_activity("Reachable from the internet at %s (%s, router %s)",
                             endpoint_words(attempt.mapping->external_address, attempt.mapping->external_port).c_str(),
                             attempt.mapping->method.c_str(), attempt.mapping->router.c_str());
            }
            held = attempt.mapping;
            retry = m_oTimes.first_retry;
            // Renewed at half its life, and never more often than a failure would be retried.
            pause = std::max(std::chrono::seconds(1), held->lifetime / 2);
        } else {
            log_activity("Port mapping: %s", attempt.why_not.c_str());
            held.reset();
            retry = std::min(retry * 2, m_oTimes.longest_retry);
        }
        std::string line;
        {
            std::lock_guard guard(m_oLock);
            m_oMapping = held;
            m_strWhyNot = attempt.why_not;
            line = reachability_words(m_oMapping, m_strWhyNot);
        }
        if (m_oPublish) {
            m_oPublish(line, held);
        }
        if (stopped_within(pause)) {
            break;
        }
    }
    if (held && remove_mapping(*held, m_oTimes.patience)) {
        log_activity("Port mapping removed: %s", endpoint_words(held->external_address, held->external_port).c_str());
    }
}

} // namespace tiv::app
