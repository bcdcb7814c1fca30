#include "net/socket/net_socket.h"

#include <cerrno>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/tcp.h>
#include <new>
#include <sys/socket.h>
#include <unistd.h>

#include "core/unique_fd.h"

namespace tiv {

namespace {

// The three steps every close variant shares. Closing first lets the peer read all we sent: the half-close tells it
// the stream has ended, and the drain waits for its own end before the descriptor goes.
void shut_drain_close(net_socket& socket, bool keep_close_error) {
    if (socket.handle < 0) {
        return;
    }
    if (::shutdown(socket.handle, SHUT_WR) != 0) {
        socket.last_error = errno;
    }
    drain(socket);
    // On Linux the descriptor is gone even when close reports an error, so it is never retried.
    if (::close(socket.handle) != 0 && keep_close_error) {
        socket.last_error = errno;
    }
    socket.handle = -1;
}

int read_int_option(int fd, int level, int option) {
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(fd, level, option, &value, &length) != 0) {
        return 0;
    }
    return value;
}

// Our exchanges write several small records in a row before the peer answers; with Nagle's algorithm each record
// after the first would wait for the peer's delayed acknowledgement. Every TCP socket of ours sends at once.
bool send_without_delay(int fd) {
    const int on = 1;
    return ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

} // namespace

net_socket::~net_socket() {
    shut_drain_close(*this, false);
}

bool open_socket(net_socket& socket, int type, int protocol) {
    close_socket(socket);
    socket.handle = ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
    if (socket.handle < 0) {
        socket.last_error = errno;
        return false;
    }
    return true;
}

bool open_tcp_socket(net_socket& socket) {
    if (!open_socket(socket, SOCK_STREAM, 0)) {
        return false;
    }
    if (!send_without_delay(socket.handle)) {
        socket.last_error = errno;
        ::close(socket.handle);
        socket.handle = -1;
        return false;
    }
    return true;
}

int set_socket_option(net_socket& socket, int option, int value) {
    int result = 0;
    if (option == SO_RCVTIMEO || option == SO_SNDTIMEO) {
        // Time-outs are given in milliseconds; the kernel takes a timeval.
        if (value < 0) {
            socket.last_error = EINVAL;
            return -1;
        }
        timeval limit = {};
        limit.tv_sec = value / 1000;
        limit.tv_usec = (value % 1000) * 1000;
        result = ::setsockopt(socket.handle, SOL_SOCKET, option, &limit, sizeof limit);
    } else {
        result = ::setsockopt(socket.handle, SOL_SOCKET, option, &value, sizeof value);
    }
    if (result != 0) {
        socket.last_error = errno;
        return -1;
    }
    return 1;
}

bool set_receive_timeout(net_socket& socket, int milliseconds) {
    return set_socket_option(socket, SO_RCVTIMEO, milliseconds) == 1;
}

bool set_send_timeout(net_socket& socket, int milliseconds) {
    return set_socket_option(socket, SO_SNDTIMEO, milliseconds) == 1;
}

bool set_ttl(net_socket& socket, int value) {
    if (::setsockopt(socket.handle, IPPROTO_IP, IP_TTL, &value, sizeof value) != 0) {
        socket.last_error = errno;
        return false;
    }
    int held = 0;
    socklen_t length = sizeof held;
    if (::getsockopt(socket.handle, IPPROTO_IP, IP_TTL, &held, &length) != 0) {
        socket.last_error = errno;
        return false;
    }
    return held == value;
}

int bind_socket(net_socket& socket, const net_address& address) {
    socket.address = address;
    // Without SO_REUSEADDR a listener restarted after serving connections could not bind its port again until
    // their TIME_WAIT ends; an active listener on the port still makes the bind fail.
    const int reuse = 1;
    if (::setsockopt(socket.handle, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
        ::bind(socket.handle, reinterpret_cast<const ::sockaddr*>(&address.sockaddr), sizeof address.sockaddr) != 0) {
        // The close steps record their own failures (a socket that never connected cannot half-close); the
        // caller needs the bind's reason.
        const int error = errno;
        shut_drain_close(socket, true);
        socket.last_error = error;
        return bind_failed;
    }
    sockaddr_in bound = {};
    socklen_t length = sizeof bound;
    if (::getsockname(socket.handle, reinterpret_cast<::sockaddr*>(&bound), &length) == 0) {
        socket.address.sockaddr = bound;
    }
    socket.max_message_size = 0;
    socket.receive_buffer_size = read_int_option(socket.handle, SOL_SOCKET, SO_RCVBUF);
    socket.send_buffer_size = read_int_option(socket.handle, SOL_SOCKET, SO_SNDBUF);
    return bind_succeeded;
}

bool listen_socket(net_socket& socket) {
    socket.listening = ::listen(socket.handle, SOMAXCONN) == 0;
    if (!socket.listening) {
        socket.last_error = errno;
    }
    return socket.listening;
}

std::unique_ptr<net_socket> accept_connection(net_socket& listener, net_address* peer) {
    sockaddr_in from = {};
    socklen_t length = sizeof from;
    unique_fd accepted(::accept4(listener.handle, peer != nullptr ? reinterpret_cast<::sockaddr*>(&from) : nullptr,
                                 peer != nullptr ? &length : nullptr, SOCK_CLOEXEC));
    // The listener's own setting would be inherited, but the accepted socket must not depend on how the listener
    // was made.
    if (!accepted || !send_without_delay(accepted.get())) {
        listener.last_error = errno;
        return nullptr;
    }
    std::unique_ptr<net_socket> connection(new (std::nothrow) net_socket);
    if (connection == nullptr) {
        listener.last_error = ENOMEM;
        return nullptr;
    }
    connection->handle = accepted.release();
    if (peer != nullptr) {
        peer->sockaddr = from;
    }
    return connection;
}

void interrupt_accept(const net_socket& listener) {
    if (listener.handle >= 0) {
        // Fails only for a descriptor that is not a listening socket, where nothing can be blocked in accept.
        (void)::shutdown(listener.handle, SHUT_RDWR);
    }
}

void close_socket(net_socket& socket) {
    shut_drain_close(socket, false);
    socket.last_error = 0;
    socket.listening = false;
}

void close_socket_keep_errors(net_socket& socket) {
    shut_drain_close(socket, true);
}

bool query_address_list(net_socket& socket) {
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) {
        socket.last_error = errno;
        return false;
    }
    const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> list(raw, ::freeifaddrs);
    std::vector<sockaddr_in> found;
    for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET || (entry->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        sockaddr_in address = *reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        address.sin_port = 0;
        found.push_back(address);
    }
    socket.address_list = std::move(found);
    return true;
}

} // namespace tiv
