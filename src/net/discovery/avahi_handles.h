#pragma once

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/thread-watch.h>
#include <memory>

namespace tiv {

// Owners of the Avahi objects. The client frees every object made from it, so those are freed before it: a class
// that holds several declares the client first.
struct free_avahi_poll {
    void operator()(AvahiThreadedPoll* poll) const { avahi_threaded_poll_free(poll); }
};
struct free_avahi_client {
    void operator()(AvahiClient* client) const { avahi_client_free(client); }
};
struct free_avahi_group {
    void operator()(AvahiEntryGroup* group) const { avahi_entry_group_free(group); }
};
struct free_avahi_browser {
    void operator()(AvahiServiceBrowser* browser) const { avahi_service_browser_free(browser); }
};
struct free_avahi_resolver {
    void operator()(AvahiServiceResolver* resolver) const { avahi_service_resolver_free(resolver); }
};

using avahi_poll_ptr = std::unique_ptr<AvahiThreadedPoll, free_avahi_poll>;
using avahi_client_ptr = std::unique_ptr<AvahiClient, free_avahi_client>;
using avahi_group_ptr = std::unique_ptr<AvahiEntryGroup, free_avahi_group>;
using avahi_browser_ptr = std::unique_ptr<AvahiServiceBrowser, free_avahi_browser>;
using avahi_resolver_ptr = std::unique_ptr<AvahiServiceResolver, free_avahi_resolver>;

} // namespace tiv
