#include "support/counting_proxy.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tiv::test {

namespace {
constexpr int poll_ms = 50;

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}
} // namespace

counting_proxy::counting_proxy(int target_port) : m_nTarget(target_port) {
    m_nListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (m_nListener < 0 || ::bind(m_nListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_nListener, 4) != 0 ||
        ::getsockname(m_nListener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    m_nPort = ntohs(address.sin_port);
    m_oThread = std::thread([this] { serve(); });
}

counting_proxy::~counting_proxy() {
    m_bStop = true;
    if (m_oThread.joinable()) {
        m_oThread.join();
    }
    if (m_nListener >= 0) {
        ::close(m_nListener);
    }
}

void counting_proxy::reset(std::uint64_t limit) {
    m_nLimit = limit;
    m_nForwarded = 0;
    m_bHolding = false;
}

void counting_proxy::serve() {
    while (!m_bStop) {
        pollfd waiting{m_nListener, POLLIN, 0};
        if (::poll(&waiting, 1, poll_ms) <= 0) {
            continue;
        }
        const int client = ::accept4(m_nListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in target = loopback(m_nTarget);
        if (server >= 0 && ::connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
            relay(client, server);
        }
        if (server >= 0) {
            ::close(server);
        }
        ::close(client);
    }
}

// Both directions until either end closes; towards the listener no further than the limit.
void counting_proxy::relay(int client, int server) {
    char buffer[65536];
    while (!m_bStop) {
        const std::uint64_t limit = m_nLimit.load();
        const bool at_limit = limit != 0 && m_nForwarded.load() >= limit;
        m_bHolding = at_limit;
        pollfd ends[2] = {{client, static_cast<short>(at_limit ? 0 : POLLIN), 0}, {server, POLLIN, 0}};
        if (::poll(ends, 2, poll_ms) <= 0) {
            continue;
        }
        if ((ends[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            std::size_t room = sizeof buffer;
            if (limit != 0) {
                room = static_cast<std::size_t>(std::min<std::uint64_t>(room, limit - m_nForwarded.load()));
            }
            const ssize_t n = ::recv(client, buffer, room, 0);
            if (n <= 0 || ::send(server, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) {
                return;
            }
            m_nForwarded += static_cast<std::uint64_t>(n);
        }
        if ((ends[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t n = ::recv(server, buffer, sizeof buffer, 0);
            if (n <= 0 || ::send(client, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) {
                return;
            }
        }
    }
}

} // namespace tiv::test
