#include "app/internal/lan/lan_announcement.h"

#include "app/internal/lan/lan_neighbours.h"
#include "log/activity_log.h"
#include "settings/qvl_settings_data.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv::app {

bool is_loopback(const net_address& address) {
    const net_address plain = unmapped(address);
    if (plain.family() == AF_INET) {
        return (ntohl(plain.endpoint.v4.sin_addr.s_addr) >> 24) == 127;
    }
    return plain.family() == AF_INET6 && IN6_IS_ADDR_LOOPBACK(&plain.endpoint.v6.sin6_addr);
}

std::unique_ptr<lan_announcement> lan_announcement::make(const qvl_settings_data& settings,
                                                         const net_address& listening) {
    if (read_dword_setting(settings.machine_key(), names::lan_announce).value_or(1) == 0 || is_loopback(listening)) {
        return nullptr;
    }
    std::unique_ptr<lan_link> link = open_lan_link();
    if (link == nullptr) {
        return nullptr;
    }
    const std::string uuid = settings.text(text_setting::user_uuid);
    std::string why;
    // The UUID keeps the name unique when several users of one computer listen.
    if (!link->announce("Quorvel " + uuid, listening.port(), uuid, why)) {
        log_activity("Not announced on the LAN: %s.", why.c_str());
        return nullptr;
    }
    return std::unique_ptr<lan_announcement>(new lan_announcement(std::move(link)));
}

} // namespace tiv::app
