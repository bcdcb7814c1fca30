#pragma once

#include "net/portmap/router_mapping.h"

namespace tiv {

// NAT-PMP (RFC 6886) with the router of the default route. `public_port` is the port asked for outside; a lifetime
// of 0 removes the mapping.
[[nodiscard]] mapping_attempt natpmp_map(std::uint16_t port, std::uint16_t public_port, std::chrono::seconds lifetime,
                                         std::chrono::milliseconds patience);

} // namespace tiv
