#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/discovery/avahi_handles.h"
#include "net/socket/net_address.h"

namespace tiv {

// The DNS-SD service type under which listeners announce themselves on the LAN.
inline constexpr const char* lan_service_type = "_quorvel._tcp";

// What the watch saw: a listener found, one gone (only `service` is then meaningful), or the end of the first
// listing of those announced when the watch started (nothing else is meaningful).
enum class lan_event { found, gone, listed };
struct lan_sighting {
    std::string service; // the service's instance name, unique on the LAN
    std::string uuid;    // its TXT "uuid=", empty when it carries none
    net_address address; // with the port and, for a link-local IPv6 address, the interface as its zone
    lan_event event = lan_event::found;
};

// One connection to the Avahi daemon over the D-Bus system bus, with its own event thread. It announces this
// listener and watches for the others; what it sees reaches `on_sighting` on that thread. Every Avahi object it
// makes is freed before the connection.
class lan_link {
public:
    using sighting_handler = std::function<void(const lan_sighting&)>;

    // Null with the reason in `why` when no Avahi daemon answers (none installed, none running, no system bus).
    [[nodiscard]] static std::unique_ptr<lan_link> open(std::string& why);
    lan_link(const lan_link&) = delete;
    lan_link& operator=(const lan_link&) = delete;
    ~lan_link();

    // Announces `service` on `port` with TXT "uuid=<uuid>" on every interface the daemon serves, replacing an
    // announcement made before; false with the reason in `why` when the daemon refuses it.
    [[nodiscard]] bool announce(const std::string& service, std::uint16_t port, const std::string& uuid,
                                std::string& why);
    void withdraw();
    // Starts watching the LAN for listeners; false with the reason when the daemon refuses.
    [[nodiscard]] bool browse(sighting_handler on_sighting, std::string& why);

    struct callbacks; // the C callbacks that reach the members below

private:
    lan_link() = default;
    // On the event thread: `listed` once the first listing and its resolvers are done.
    void report_listed();

    avahi_poll_ptr m_pPoll;
    avahi_client_ptr m_pClient;
    avahi_group_ptr m_pGroup;
    avahi_browser_ptr m_pBrowser;
    sighting_handler m_fnSighting;
    // Resolvers run until they answer once and are freed as they do, the rest with the link. Like every Avahi
    // object, touched only under the event thread's lock.
    std::vector<avahi_resolver_ptr> m_oResolvers;
    // Avahi has listed what its cache and the first queries found; `listed` goes out once their resolvers are done.
    bool m_bAllForNow = false;
    bool m_bListed = false;
};

} // namespace tiv
