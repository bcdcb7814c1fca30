#include "net/discovery/lan_link.h"

#include <algorithm>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <cstring>
#include <net/if.h>

#include "core/text.h"
#include "log/activity_log.h"

namespace tiv {

namespace {
// Holds the event thread's lock while a caller on another thread works the Avahi objects.
class poll_lock {
public:
    explicit poll_lock(AvahiThreadedPoll* poll) : m_pPoll(poll) { avahi_threaded_poll_lock(m_pPoll); }
    poll_lock(const poll_lock&) = delete;
    poll_lock& operator=(const poll_lock&) = delete;
    ~poll_lock() { avahi_threaded_poll_unlock(m_pPoll); }

private:
    AvahiThreadedPoll* m_pPoll;
};

std::string client_error(AvahiClient* client) {
    return avahi_strerror(avahi_client_errno(client));
}

std::string uuid_of(AvahiStringList* txt) {
    AvahiStringList* entry = avahi_string_list_find(txt, "uuid");
    char* key = nullptr;
    char* value = nullptr;
    std::size_t size = 0;
    if (entry == nullptr || avahi_string_list_get_pair(entry, &key, &value, &size) != 0) {
        return {};
    }
    std::string uuid = value != nullptr ? std::string(value, size) : std::string();
    avahi_free(key);
    avahi_free(value);
    return uuid;
}

// The resolved address as a socket address; unresolved for a family we do not connect to.
net_address address_of(const AvahiAddress& found, std::uint16_t port, AvahiIfIndex interface) {
    net_address address;
    if (found.proto == AVAHI_PROTO_INET) {
        address.endpoint.v4.sin_family = AF_INET;
        address.endpoint.v4.sin_addr.s_addr = found.data.ipv4.address;
    } else if (found.proto == AVAHI_PROTO_INET6) {
        address.endpoint.v6.sin6_family = AF_INET6;
        std::memcpy(&address.endpoint.v6.sin6_addr, found.data.ipv6.address, sizeof found.data.ipv6.address);
        // A link-local address is only reached through the interface it was seen on.
        if (IN6_IS_ADDR_LINKLOCAL(&address.endpoint.v6.sin6_addr)) {
            address.endpoint.v6.sin6_scope_id = static_cast<std::uint32_t>(interface);
        }
    } else {
        return address;
    }
    address.set_port(port);
    address.resolved = true;
    copy_text_field(address.host_name, host_text(address));
    return address;
}
} // namespace

struct lan_link::callbacks {
    // The announcement and the watch end with the daemon; the next start of the listener or the program opens a
    // new link.
    static void client_changed(AvahiClient* client, AvahiClientState state, void*) {
        if (state == AVAHI_CLIENT_FAILURE) {
            log_activity("LAN discovery stopped: %s.", avahi_strerror(avahi_client_errno(client)));
        }
    }
    // Only the name of an announcement can clash, and it carries the user's UUID: the same user listens on
    // another computer of this LAN. Both stay reachable at their stored addresses.
    static void group_changed(AvahiEntryGroup* group, AvahiEntryGroupState state, void*) {
        if (state == AVAHI_ENTRY_GROUP_COLLISION || state == AVAHI_ENTRY_GROUP_FAILURE) {
            log_activity("Not announced on the LAN: %s.",
                         state == AVAHI_ENTRY_GROUP_COLLISION
                             ? "another computer announces this user already"
                             : avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
        }
    }

    static void resolved(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol,
                         AvahiResolverEvent event, const char* name, const char*, const char*, const char*,
                         const AvahiAddress* found, std::uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags,
                         void* data) {
        auto& link = *static_cast<lan_link*>(data);
        if (event == AVAHI_RESOLVER_FOUND && found != nullptr && link.m_fnSighting) {
            lan_sighting seen{.service = name, .uuid = uuid_of(txt), .address = address_of(*found, port, interface)};
            if (seen.address.resolved) {
                link.m_fnSighting(seen);
            }
        }
        // Answered or failed, it has done its one job.
        std::erase_if(link.m_oResolvers, [resolver](const avahi_resolver_ptr& r) { return r.get() == resolver; });
        link.report_listed();
    }

    static void browsed(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
                        const char* name, const char* type, const char* domain, AvahiLookupResultFlags, void* data) {
        auto& link = *static_cast<lan_link*>(data);
        if (event == AVAHI_BROWSER_NEW) {
            AvahiServiceResolver* resolver =
                avahi_service_resolver_new(link.m_pClient.get(), interface, protocol, name, type, domain,
                                           AVAHI_PROTO_UNSPEC, static_cast<AvahiLookupFlags>(0), resolved, data);
            if (resolver != nullptr) {
                link.m_oResolvers.emplace_back(resolver);
            }
        } else if (event == AVAHI_BROWSER_REMOVE && link.m_fnSighting) {
            link.m_fnSighting(lan_sighting{.service = name, .uuid = {}, .address = {}, .event = lan_event::gone});
        } else if (event == AVAHI_BROWSER_ALL_FOR_NOW || event == AVAHI_BROWSER_FAILURE) {
            link.m_bAllForNow = true;
            link.report_listed();
        }
    }
};

void lan_link::report_listed() {
    if (m_bAllForNow && !m_bListed && m_oResolvers.empty() && m_fnSighting) {
        m_bListed = true;
        m_fnSighting(lan_sighting{.service = {}, .uuid = {}, .address = {}, .event = lan_event::listed});
    }
}

std::unique_ptr<lan_link> lan_link::open(std::string& why) {
    std::unique_ptr<lan_link> link(new lan_link());
    link->m_pPoll.reset(avahi_threaded_poll_new());
    if (link->m_pPoll == nullptr) {
        why = "the Avahi event loop could not be made";
        return nullptr;
    }
    int error = 0;
    // Without AVAHI_CLIENT_NO_FAIL the daemon's absence is known here, at once, instead of waiting for it forever.
    link->m_pClient.reset(avahi_client_new(avahi_threaded_poll_get(link->m_pPoll.get()),
                                           static_cast<AvahiClientFlags>(0), callbacks::client_changed, link.get(),
                                           &error));
    if (link->m_pClient == nullptr) {
        why = std::string("no Avahi daemon answers on the system bus (") + avahi_strerror(error) + ")";
        return nullptr;
    }
    if (avahi_threaded_poll_start(link->m_pPoll.get()) != 0) {
        why = "the Avahi event thread could not start";
        return nullptr;
    }
    return link;
}

lan_link::~lan_link() {
    if (m_pPoll != nullptr) {
        avahi_threaded_poll_stop(m_pPoll.get());
    }
    m_oResolvers.clear();
    m_pBrowser.reset();
    m_pGroup.reset();
    m_pClient.reset();
}

bool lan_link::announce(const std::string& service, std::uint16_t port, const std::string& uuid, std::string& why) {
    const poll_lock locked(m_pPoll.get());
    if (m_pGroup == nullptr) {
        m_pGroup.reset(avahi_entry_group_new(m_pClient.get(), callbacks::group_changed, this));
        if (m_pGroup == nullptr) {
            why = "Avahi refused the announcement: " + client_error(m_pClient.get());
            return false;
        }
    }
    (void)avahi_entry_group_reset(m_pGroup.get());
    const std::string txt = "uuid=" + uuid;
    int error = avahi_entry_group_add_service(m_pGroup.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                              static_cast<AvahiPublishFlags>(0), service.c_str(), lan_service_type,
                                              nullptr, nullptr, port, txt.c_str(), nullptr);
    if (error == 0) {
        error = avahi_entry_group_commit(m_pGroup.get());
    }
    if (error != 0) {
        why = std::string("Avahi refused the announcement: ") + avahi_strerror(error);
        return false;
    }
    return true;
}

void lan_link::withdraw() {
    const poll_lock locked(m_pPoll.get());
    m_pGroup.reset();
}

bool lan_link::browse(sighting_handler on_sighting, std::string& why) {
    const poll_lock locked(m_pPoll.get());
    m_fnSighting = std::move(on_sighting);
    m_pBrowser.reset(avahi_service_browser_new(m_pClient.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, lan_service_type,
                                               nullptr, static_cast<AvahiLookupFlags>(0), callbacks::browsed, this));
    if (m_pBrowser == nullptr) {
        why = "Avahi refused to browse: " + client_error(m_pClient.get());
        return false;
    }
    return true;
}

} // namespace tiv
