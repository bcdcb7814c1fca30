#pragma once

#include <cstddef>
#include <functional>
#include <span>

#include "core/coded_status.h"
#include "net/socket/net_address.h"
#include "net/socket/net_socket.h"

namespace tiv {

// Between attempts at the addresses of one name, as RFC 8305 recommends: long enough for a working address to
// answer first, short enough that a dead one costs little.
inline constexpr int connection_attempt_delay_ms = 250;

// Connects to the first of `candidates` that answers (Happy Eyeballs): the attempts start in the order given, each
// `connection_attempt_delay_ms` after the one before or at once when it failed, and the first connection made wins;
// every other attempt is closed. `socket` then holds the winner (blocking, TCP_NODELAY) and `winner` its index.
// Fails with the last failure's reason when every attempt failed, and with ETIMEDOUT when none connected within
// `timeout_ms`, and with ECANCELED soon after `stopped` says so. The failure reads "cannot connect to [::1]:2502:
// Connection refused".
[[nodiscard]] sys_status connect_first(net_socket& socket, std::span<const net_address> candidates, int timeout_ms,
                                       std::size_t& winner, const std::function<bool()>& stopped = {});

} // namespace tiv
