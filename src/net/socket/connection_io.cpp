#include "net/socket/connection_io.h"

#include <cerrno>
#include <sys/socket.h>

namespace tiv {

status_or<int, sys_status> receive_some(net_socket& socket, void* buffer, int n) {
    for (;;) {
        const ssize_t count = ::recv(socket.handle, buffer, static_cast<std::size_t>(n), 0);
        if (count >= 0) {
            return static_cast<int>(count);
        }
        if (errno != EINTR) {
            return sys_failure((errno == EAGAIN || errno == EWOULDBLOCK) ? ETIMEDOUT : errno, "cannot receive");
        }
    }
}

peer_ending half_close_and_await_peer(net_socket& socket) {
    if (::shutdown(socket.handle, SHUT_WR) != 0) {
        return peer_ending::reset;
    }
    const sys_status drained = drain(socket);
    if (drained) {
        return peer_ending::closed;
    }
    return drained.code() == ETIMEDOUT ? peer_ending::timed_out : peer_ending::reset;
}

void set_abortive_close(net_socket& socket) {
    const linger abort_at_once{1, 0};
    if (socket.handle >= 0) {
        (void)::setsockopt(socket.handle, SOL_SOCKET, SO_LINGER, &abort_at_once, sizeof abort_at_once);
    }
}

} // namespace tiv
