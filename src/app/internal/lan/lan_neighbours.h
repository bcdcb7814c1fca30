#pragma once

#include "app/internal/only.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/discovery/lan_link.h"

namespace tiv::app {

// A listener announced on the LAN now: its owner's UUID (as announced, so not yet proof of anything) and every
// address it was seen at.
struct lan_listener {
    std::string uuid;
    std::vector<net_address> addresses;
};

// The listeners announced on the LAN now, kept up to date by Avahi's event thread and read from any thread.
// Without an Avahi daemon it stays empty, and the reason is logged once per process.
class lan_neighbours {
public:
    lan_neighbours();
    lan_neighbours(const lan_neighbours&) = delete;
    lan_neighbours& operator=(const lan_neighbours&) = delete;
    ~lan_neighbours();

    [[nodiscard]] bool watching() const { return m_pLink != nullptr; }
    // Every address announced for `uuid` now (either family, as Avahi reported them); empty when none.
    [[nodiscard]] std::vector<net_address> addresses_of(const std::string& uuid) const;
    // addresses_of, waiting up to `bound` for a first announcement of `uuid` when none is known yet, but no longer
    // than the first listing of the LAN takes.
    [[nodiscard]] std::vector<net_address> wait_for(const std::string& uuid, std::chrono::milliseconds bound) const;
    [[nodiscard]] std::vector<lan_listener> listeners() const;

private:
    void seen(const lan_sighting& sighting);

    mutable std::mutex m_oLock;
    mutable std::condition_variable m_oChanged;
    std::map<std::string, lan_listener> m_oByService;
    bool m_bListed = false; // the first listing is in
    // Last, so its event thread has stopped before the table goes.
    std::unique_ptr<lan_link> m_pLink;
};

// The one connection to Avahi of a purpose (announcing, watching); null when there is no daemon to talk to, which
// the first failure of the process logs, naming why there is no LAN discovery.
[[nodiscard]] std::unique_ptr<lan_link> open_lan_link();

// The same UUID, whatever the case of its letters.
[[nodiscard]] bool same_uuid(const std::string& a, const std::string& b);

} // namespace tiv::app
