#pragma once

#include "net/portmap/router_mapping.h"

namespace tiv {

// UPnP IGD: the router found by SSDP within `patience`, asked over its control URL.
[[nodiscard]] mapping_attempt upnp_map(std::uint16_t port, std::chrono::seconds lifetime,
                                       std::chrono::milliseconds patience);
// Asks the same router again, without a new search.
[[nodiscard]] mapping_attempt upnp_renew(const router_mapping& mapping);
bool upnp_remove(const router_mapping& mapping);

} // namespace tiv
