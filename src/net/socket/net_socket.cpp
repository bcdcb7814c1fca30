#include "net/socket/net_socket.h"

#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/tcp.h>
#include <new>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "core/unique_fd.h"

namespace tiv {

namespace {

// The three steps every close variant shares; the last failure met is the outcome. Closing first lets the peer
// read all we sent: the half-close tells it the stream has ended, and the drain waits for its own end before the
// descriptor goes.
sys_status shut_drain_close(net_socket& socket) {
    if (socket.handle < 0) {
        return {};
    }
    sys_status outcome;
    if (::shutdown(socket.handle, SHUT_WR) != 0) {
        outcome = sys_failure(errno, "cannot half-close the connection");
    }
    if (sys_status drained = drain(socket); !drained) {
        outcome = std::move(drained);
    }
    // On Linux the descriptor is gone even when close reports an error, so it is never retried.
    if (::close(socket.handle) != 0) {
        outcome = sys_failure(errno, "cannot close the socket");
    }
    socket.handle = -1;
    return outcome;
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

std::string option_words(int option, int value) {
    switch (option) {
    case SO_RCVTIMEO:
        return "cannot set the receive time-out to " + std::to_string(value) + " ms";
    case SO_SNDTIMEO:
        return "cannot set the send time-out to " + std::to_string(value) + " ms";
    default:
        return "cannot set socket option " + std::to_string(option) + " to " + std::to_string(value);
    }
}

} // namespace

net_socket::~net_socket() {
    (void)shut_drain_close(*this);
}

sys_status open_socket(net_socket& socket, int type, int protocol, int family) {
    close_socket(socket);
    socket.handle = ::socket(family, type | SOCK_CLOEXEC, protocol);
    if (socket.handle < 0) {
        return sys_failure(errno, "cannot create a socket");
    }
    return {};
}

sys_status open_tcp_socket(net_socket& socket, int family) {
    if (sys_status opened = open_socket(socket, SOCK_STREAM, 0, family); !opened) {
        return opened;
    }
    if (!send_without_delay(socket.handle)) {
        sys_status failed = sys_failure(errno, "cannot make the socket send without delay");
        ::close(socket.handle);
        socket.handle = -1;
        return failed;
    }
    return {};
}

sys_status set_socket_option(net_socket& socket, int option, int value) {
    int result = 0;
    if (option == SO_RCVTIMEO || option == SO_SNDTIMEO) {
        // Time-outs are given in milliseconds; the kernel takes a timeval.
        if (value < 0) {
            return sys_failure(EINVAL, option_words(option, value));
        }
        timeval limit = {};
        limit.tv_sec = value / 1000;
        limit.tv_usec = (value % 1000) * 1000;
        result = ::setsockopt(socket.handle, SOL_SOCKET, option, &limit, sizeof limit);
    } else {
        result = ::setsockopt(socket.handle, SOL_SOCKET, option, &value, sizeof value);
    }
    if (result != 0) {
        const int error = errno;
        return sys_failure(error, option_words(option, value));
    }
    return {};
}

sys_status set_receive_timeout(net_socket& socket, int milliseconds) {
    return set_socket_option(socket, SO_RCVTIMEO, milliseconds);
}

sys_status set_send_timeout(net_socket& socket, int milliseconds) {
    return set_socket_option(socket, SO_SNDTIMEO, milliseconds);
}

sys_status set_ttl(net_socket& socket, int value) {
    const std::string what = "cannot set the time to live to " + std::to_string(value);
    int family = AF_INET;
    socklen_t family_length = sizeof family;
    if (::getsockopt(socket.handle, SOL_SOCKET, SO_DOMAIN, &family, &family_length) != 0) {
        return sys_failure(errno, what);
    }
    // IPv6 calls the same count the hop limit.
    const int level = family == AF_INET6 ? IPPROTO_IPV6 : IPPROTO_IP;
    const int option = family == AF_INET6 ? IPV6_UNICAST_HOPS : IP_TTL;
    if (::setsockopt(socket.handle, level, option, &value, sizeof value) != 0) {
        return sys_failure(errno, what);
    }
    int held = 0;
    socklen_t length = sizeof held;
    if (::getsockopt(socket.handle, level, option, &held, &length) != 0) {
        return sys_failure(errno, what);
    }
    if (held != value) {
        return {EINVAL, what + ": the kernel holds " + std::to_string(held)};
    }
    return {};
}

sys_status bind_socket(net_socket& socket, const net_address& address) {
    socket.address = address;
    // Without SO_REUSEADDR a listener restarted after serving connections could not bind its port again until
    // their TIME_WAIT ends; an active listener on the port still makes the bind fail.
    const int reuse = 1;
    const int both_families = 0;
    if (::setsockopt(socket.handle, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
        (address.is_ipv6() &&
         ::setsockopt(socket.handle, IPPROTO_IPV6, IPV6_V6ONLY, &both_families, sizeof both_families) != 0) ||
        ::bind(socket.handle, address.socket_address(), address.socket_length()) != 0) {
        // The close steps meet failures of their own (a socket that never connected cannot half-close); the
        // caller needs the bind's reason.
        const int error = errno;
        sys_status failed = sys_failure(error, "cannot bind to " + endpoint_text(address));
        (void)shut_drain_close(socket);
        return failed;
    }
    sockaddr_storage bound = {};
    socklen_t length = sizeof bound;
    if (::getsockname(socket.handle, reinterpret_cast<::sockaddr*>(&bound), &length) == 0) {
        socket.address.endpoint = address_from(bound).endpoint;
    }
    socket.max_message_size = 0;
    socket.receive_buffer_size = read_int_option(socket.handle, SOL_SOCKET, SO_RCVBUF);
    socket.send_buffer_size = read_int_option(socket.handle, SOL_SOCKET, SO_SNDBUF);
    return {};
}

sys_status listen_socket(net_socket& socket) {
    socket.listening = ::listen(socket.handle, SOMAXCONN) == 0;
    if (!socket.listening) {
        const int error = errno;
        return sys_failure(error, "cannot listen on " + endpoint_text(socket.address));
    }
    return {};
}

status_or<std::unique_ptr<net_socket>, sys_status> accept_connection(net_socket& listener, net_address* peer) {
    sockaddr_storage from = {};
    socklen_t length = sizeof from;
    unique_fd accepted(::accept4(listener.handle, peer != nullptr ? reinterpret_cast<::sockaddr*>(&from) : nullptr,
                                 peer != nullptr ? &length : nullptr, SOCK_CLOEXEC));
    // The listener's own setting would be inherited, but the accepted socket must not depend on how the listener
    // was made.
    if (!accepted || !send_without_delay(accepted.get())) {
        return sys_failure(errno, "cannot accept a connection");
    }
    std::unique_ptr<net_socket> connection(new (std::nothrow) net_socket);
    if (connection == nullptr) {
        return sys_failure(ENOMEM, "cannot accept a connection");
    }
    connection->handle = accepted.release();
    if (peer != nullptr) {
        peer->endpoint = unmapped(address_from(from)).endpoint;
        peer->resolved = true;
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
    (void)close_socket_reporting(socket);
}

sys_status close_socket_reporting(net_socket& socket) {
    sys_status outcome = shut_drain_close(socket);
    socket.listening = false;
    return outcome;
}

sys_status query_address_list(net_socket& socket) {
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) {
        return sys_failure(errno, "cannot list the interface addresses");
    }
    const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> list(raw, ::freeifaddrs);
    std::vector<net_address> found;
    for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        sockaddr_storage copy = {};
        const int family = entry->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) {
            continue;
        }
        std::memcpy(&copy, entry->ifa_addr, family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6));
        net_address address = address_from(copy);
        address.set_port(0);
        found.push_back(address);
    }
    socket.address_list = std::move(found);
    return {};
}

} // namespace tiv
