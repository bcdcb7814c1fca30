#pragma once

#include "app/internal/only.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/status.h"
#include "net/socket/net_address.h"

namespace tiv::app {

// Resolves where to send, every address of a name in the order they are tried, refusing what can only fail at
// connect time: a name that does not resolve, the "any" addresses 0.0.0.0 and "::", a link-local address without
// its interface, and port 0.
// Why `address`, which `host` named, cannot be reached: a link-local address without the interface that reaches it.
// Nothing for any other address.
[[nodiscard]] std::optional<status> missing_zone(const std::string& host, const net_address& address);

[[nodiscard]] result<std::vector<net_address>> check_destination(const std::string& host, std::uint32_t port,
                                                                 const name_resolver& resolve);

} // namespace tiv::app
