#include "net/portmap/router_mapping.h"

#include "net/portmap/natpmp_mapping.h"
#include "net/portmap/upnp_mapping.h"

namespace tiv {

mapping_attempt map_port(std::uint16_t port, std::chrono::seconds lifetime, std::chrono::milliseconds patience) {
    mapping_attempt natpmp = natpmp_map(port, port, lifetime, patience);
    if (natpmp.mapping) {
        return natpmp;
    }
    mapping_attempt upnp = upnp_map(port, lifetime, patience);
    if (upnp.mapping) {
        return upnp;
    }
    // A router that answered and refused says more than one that did not answer at all.
    const bool natpmp_silent = natpmp.why_not.starts_with("no ");
    const bool upnp_silent = upnp.why_not.starts_with("no ");
    if (natpmp_silent && upnp_silent) {
        return {std::nullopt, "no router answered NAT-PMP or UPnP"};
    }
    return natpmp_silent ? upnp : natpmp;
}

mapping_attempt renew_mapping(const router_mapping& mapping, std::chrono::milliseconds patience) {
    if (mapping.method == "UPnP") {
        return upnp_renew(mapping);
    }
    return natpmp_map(mapping.internal_port, mapping.external_port, mapping.lifetime, patience);
}

bool remove_mapping(const router_mapping& mapping, std::chrono::milliseconds patience) {
    if (mapping.method == "UPnP") {
        return upnp_remove(mapping);
    }
    return natpmp_map(mapping.internal_port, mapping.external_port, std::chrono::seconds(0), patience)
        .mapping.has_value();
}

} // namespace tiv
