#include "app/internal/lan/lan_neighbours.h"

#include <algorithm>
#include <atomic>

#include "log/activity_log.h"
#include "platform/uuid.h"

namespace tiv::app {

std::unique_ptr<lan_link> open_lan_link() {
    std::string why;
    std::unique_ptr<lan_link> link = lan_link::open(why);
    static std::atomic<bool> said{false};
    if (link == nullptr && !said.exchange(true)) {
        log_activity("No LAN discovery: %s.", why.c_str());
    }
    return link;
}

bool same_uuid(const std::string& a, const std::string& b) {
    const std::optional<uuid_value> first = uuid_from_text(a);
    return first && first == uuid_from_text(b);
}

lan_neighbours::lan_neighbours() : m_pLink(open_lan_link()) {
    std::string why;
    if (m_pLink != nullptr && !m_pLink->browse([this](const lan_sighting& s) { seen(s); }, why)) {
        log_activity("No LAN discovery: %s.", why.c_str());
        m_pLink.reset();
    }
}

lan_neighbours::~lan_neighbours() {
    m_pLink.reset();
}

void lan_neighbours::seen(const lan_sighting& sighting) {
    {
        const std::lock_guard guard(m_oLock);
        if (sighting.event == lan_event::listed) {
            m_bListed = true;
        } else if (sighting.event == lan_event::gone) {
            m_oByService.erase(sighting.service);
        } else {
            lan_listener& listener = m_oByService[sighting.service];
            listener.uuid = sighting.uuid;
            const bool known = std::any_of(listener.addresses.begin(), listener.addresses.end(), [&](const auto& a) {
                return endpoint_text(a) == endpoint_text(sighting.address);
            });
            if (!known) {
                listener.addresses.push_back(sighting.address);
            }
        }
    }
    m_oChanged.notify_all();
}

std::vector<net_address> lan_neighbours::addresses_of(const std::string& uuid) const {
    const std::lock_guard guard(m_oLock);
    std::vector<net_address> found;
    for (const auto& [service, listener] : m_oByService) {
        if (same_uuid(listener.uuid, uuid)) {
            found.insert(found.end(), listener.addresses.begin(), listener.addresses.end());
        }
    }
    return found;
}

std::vector<net_address> lan_neighbours::wait_for(const std::string& uuid, std::chrono::milliseconds bound) const {
    const auto announced = [&] {
        return std::any_of(m_oByService.begin(), m_oByService.end(),
                           [&](const auto& entry) { return same_uuid(entry.second.uuid, uuid); });
    };
    {
        std::unique_lock guard(m_oLock);
        if (!m_oChanged.wait_for(guard, bound, [&] { return m_bListed || announced(); }) || !announced()) {
            return {};
        }
    }
    return addresses_of(uuid);
}

std::vector<lan_listener> lan_neighbours::listeners() const {
    const std::lock_guard guard(m_oLock);
    std::vector<lan_listener> all;
    for (const auto& [service, listener] : m_oByService) {
        all.push_back(listener);
    }
    return all;
}

} // namespace tiv::app
