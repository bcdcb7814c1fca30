#include "net/socket/net_socket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <string>
#include <sys/socket.h>

namespace tiv {

namespace {

// Waits for something to read until the socket's deadline, if it has one; ETIMEDOUT once it has passed.
sys_status wait_before_deadline(const net_socket& socket) {
    if (socket.receive_deadline == std::chrono::steady_clock::time_point{}) {
        return {};
    }
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(socket.receive_deadline -
                                                                                std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return sys_failure(ETIMEDOUT, "cannot receive");
        }
        // The time-out of a single receive still applies within the deadline.
        long long wait_ms = left.count();
        timeval per_receive{};
        socklen_t size = sizeof per_receive;
        if (::getsockopt(socket.handle, SOL_SOCKET, SO_RCVTIMEO, &per_receive, &size) == 0 &&
            (per_receive.tv_sec > 0 || per_receive.tv_usec > 0)) {
            wait_ms = std::min<long long>(wait_ms, per_receive.tv_sec * 1000LL + per_receive.tv_usec / 1000);
        }
        pollfd readable{socket.handle, POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(std::clamp<long long>(wait_ms, 1, 60000)));
        if (ready > 0) {
            return {};
        }
        if (ready == 0 || errno != EINTR) {
            return sys_failure(ready == 0 ? ETIMEDOUT : errno, "cannot receive");
        }
    }
}

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr milliseconds default_drain_limit{10000};
constexpr std::size_t drain_piece = 2048;

// A blocking call that ran into SO_RCVTIMEO or SO_SNDTIMEO reports EAGAIN; callers want to know the peer was silent.
int timeout_or(int error) {
    return (error == EAGAIN || error == EWOULDBLOCK) ? ETIMEDOUT : error;
}

// The socket's time-out for `option` in milliseconds, or -1 when none is set.
int timeout_of(int fd, int option) {
    timeval limit = {};
    socklen_t length = sizeof limit;
    if (::getsockopt(fd, SOL_SOCKET, option, &limit, &length) != 0 || (limit.tv_sec == 0 && limit.tv_usec == 0)) {
        return -1;
    }
    return static_cast<int>(limit.tv_sec * 1000 + (limit.tv_usec + 999) / 1000);
}

// connect was interrupted by a signal but goes on in the kernel; wait for its outcome.
int finish_interrupted_connect(int fd) {
    pollfd waiting = {fd, POLLOUT, 0};
    int ready = 0;
    do {
        ready = ::poll(&waiting, 1, timeout_of(fd, SO_SNDTIMEO));
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
        return errno;
    }
    if (ready == 0) {
        return ETIMEDOUT;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return errno;
    }
    return error;
}

// The bounds of a drain: it ends after the receive time-out in total, or after 10 s when none is set. Without a
// time-out only a stream waits for more: its peer's end will come, while a datagram socket has no end to wait for
// and only loses what is queued.
struct drain_bounds {
    milliseconds total;
    bool waits;
};

drain_bounds drain_bounds_of(int fd) {
    const int configured = timeout_of(fd, SO_RCVTIMEO);
    if (configured >= 0) {
        return {milliseconds(configured), true};
    }
    int type = 0;
    socklen_t length = sizeof type;
    const bool stream = ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type == SOCK_STREAM;
    return {default_drain_limit, stream};
}

} // namespace

sys_status connect_socket(net_socket& socket, const net_address& destination) {
    if (::connect(socket.handle, destination.socket_address(), destination.socket_length()) == 0) {
        return {};
    }
    int error = errno;
    if (error == EINTR) {
        error = finish_interrupted_connect(socket.handle);
    }
    if (error == 0) {
        return {};
    }
    // A blocking connect that outlives SO_SNDTIMEO returns EINPROGRESS.
    return sys_failure(error == EINPROGRESS ? ETIMEDOUT : timeout_or(error),
                       "cannot connect to " + endpoint_text(destination));
}

sys_status send_all(net_socket& socket, const void* buffer, int n) {
    if (n < 0) {
        return sys_failure(EINVAL, "cannot send");
    }
    const auto* bytes = static_cast<const char*>(buffer);
    int sent = 0;
    while (sent < n) {
        const ssize_t count = ::send(socket.handle, bytes + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return sys_failure(timeout_or(errno), "cannot send");
        }
        sent += static_cast<int>(count);
    }
    return {};
}

void set_receive_deadline(net_socket& socket, int milliseconds) {
    socket.receive_deadline = milliseconds > 0
                                  ? std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds)
                                  : std::chrono::steady_clock::time_point{};
}

sys_status receive_all(net_socket& socket, int n, void* buffer) {
    if (n < 0) {
        return sys_failure(EINVAL, "cannot receive");
    }
    auto* bytes = static_cast<char*>(buffer);
    int received = 0;
    while (received < n) {
        if (sys_status ready = wait_before_deadline(socket); !ready) {
            return ready;
        }
        const ssize_t count = ::recv(socket.handle, bytes + received, static_cast<std::size_t>(n - received), 0);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return sys_failure(timeout_or(errno), "cannot receive");
        }
        if (count == 0) {
            return {ECONNRESET, "the peer ended the connection after " + std::to_string(received) + " of " +
                                    std::to_string(n) + " bytes"};
        }
        received += static_cast<int>(count);
    }
    return {};
}

status_or<int, sys_status> receive_datagram(net_socket& socket, std::span<std::uint8_t> buffer, net_address* from) {
    const std::size_t capacity = std::min(buffer.size(), max_datagram_size);
    for (;;) {
        sockaddr_storage sender = {};
        socklen_t length = sizeof sender;
        const ssize_t count = ::recvfrom(socket.handle, buffer.data(), capacity, 0,
                                         from != nullptr ? reinterpret_cast<::sockaddr*>(&sender) : nullptr,
                                         from != nullptr ? &length : nullptr);
        if (count >= 0) {
            if (from != nullptr) {
                *from = address_from(sender);
            }
            return static_cast<int>(count);
        }
        if (errno != EINTR) {
            return sys_failure(timeout_or(errno), "cannot receive a datagram");
        }
    }
}

sys_status drain(net_socket& socket) {
    const drain_bounds bounds = drain_bounds_of(socket.handle);
    const auto deadline = steady_clock::now() + bounds.total;
    char scratch[drain_piece];
    for (;;) {
        // Peeking without waiting first makes a socket that never connected (or listens) fail at once.
        const ssize_t peeked = ::recv(socket.handle, scratch, sizeof scratch, MSG_PEEK | MSG_DONTWAIT);
        if (peeked == 0) {
            return {};
        }
        const bool nothing_queued = peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        if (peeked < 0 && errno != EINTR && !nothing_queued) {
            return sys_failure(errno, "cannot drain the connection");
        }
        if (nothing_queued && !bounds.waits) {
            return {};
        }
        if (peeked > 0 && ::recv(socket.handle, scratch, sizeof scratch, MSG_DONTWAIT) < 0 && errno != EINTR &&
            errno != EAGAIN && errno != EWOULDBLOCK) {
            return sys_failure(errno, "cannot drain the connection");
        }
        const auto left = std::chrono::ceil<milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0) {
            return sys_failure(ETIMEDOUT, "the peer did not end the connection in time");
        }
        if (nothing_queued) {
            pollfd waiting = {socket.handle, POLLIN, 0};
            if (::poll(&waiting, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
                return sys_failure(errno, "cannot drain the connection");
            }
        }
    }
}

} // namespace tiv
