#include "net/socket/connection_io.h"

#include <cerrno>
#include <sys/socket.h>

namespace tiv {

int receive_some(net_socket& socket, void* buffer, int n) {
    for (;;) {
        const ssize_t count = ::recv(socket.handle, buffer, static_cast<std::size_t>(n), 0);
        if (count >= 0) {
            return static_cast<int>(count);
        }
        if (errno == EINTR) {
            continue;
        }
        socket.last_error = (errno == EAGAIN || errno == EWOULDBLOCK) ? ETIMEDOUT : errno;
        return -1;
    }
}

peer_ending half_close_and_await_peer(net_socket& socket) {
    if (::shutdown(socket.handle, SHUT_WR) != 0) {
        socket.last_error = errno;
        return peer_ending::reset;
    }
    const int before = socket.last_error;
    socket.last_error = 0;
    drain(socket);
    const int error = socket.last_error;
    if (error == 0) {
        socket.last_error = before;
        return peer_ending::closed;
    }
    return error == ETIMEDOUT ? peer_ending::timed_out : peer_ending::reset;
}

void set_abortive_close(net_socket& socket) {
    const linger abort_at_once{1, 0};
    if (socket.handle >= 0) {
        (void)::setsockopt(socket.handle, SOL_SOCKET, SO_LINGER, &abort_at_once, sizeof abort_at_once);
    }
}

} // namespace tiv
