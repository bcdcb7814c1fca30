#pragma once

#include "app/internal/only.h"

#include <memory>
#include <string>

#include "net/discovery/lan_link.h"

namespace tiv {
class qvl_settings_data;
}

namespace tiv::app {

// This listener's announcement on the LAN, from when it is made until the object goes.
class lan_announcement {
public:
    // Announces the user's UUID on `port` when "LanAnnounce" is on and `listening` is reachable from the LAN (not a
    // loopback address); null otherwise, and when Avahi cannot do it (the reason is logged).
    [[nodiscard]] static std::unique_ptr<lan_announcement> make(const qvl_settings_data& settings,
                                                                const net_address& listening);
    lan_announcement(const lan_announcement&) = delete;
    lan_announcement& operator=(const lan_announcement&) = delete;

private:
    explicit lan_announcement(std::unique_ptr<lan_link> link) : m_pLink(std::move(link)) {}

    std::unique_ptr<lan_link> m_pLink;
};

// True for 127.0.0.0/8 and ::1 (and IPv4 loopback mapped into IPv6): nobody else on the LAN reaches those.
[[nodiscard]] bool is_loopback(const net_address& address);

} // namespace tiv::app
