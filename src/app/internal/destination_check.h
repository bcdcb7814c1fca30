#pragma once

#include "app/internal/only.h"

#include <cstdint>
#include <string>

#include "app/status.h"
#include "net/socket/net_address.h"

namespace tiv::app {

// Resolves where to send, refusing what can only fail at connect time: a name that does not resolve, the
// "any" address 0.0.0.0 and port 0.
[[nodiscard]] result<net_address> check_destination(const std::string& host, std::uint32_t port);

} // namespace tiv::app
