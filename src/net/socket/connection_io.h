#pragma once

#include "net/socket/net_socket.h"

namespace tiv {

// What the peer did after our half-close.
enum class peer_ending { closed, reset, timed_out };

// Receives what has arrived, at most n bytes: the count, 0 at the peer's end of stream; ETIMEDOUT for a peer that
// stayed silent past the receive time-out.
[[nodiscard]] status_or<int, sys_status> receive_some(net_socket& socket, void* buffer, int n);

// Half-closes and reads until the peer ends too. A clean end means the peer read everything we sent and closed
// in good order; a reset means it gave up on the connection. Bounded by the receive time-out (10 s when none).
[[nodiscard]] peer_ending half_close_and_await_peer(net_socket& socket);

// Makes the next close send a reset instead of an orderly end, so the peer learns that the transfer failed.
void set_abortive_close(net_socket& socket);

} // namespace tiv
