#pragma once

#include <memory>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "net/socket/net_socket.h"

namespace tiv::test {

// A listener on 127.0.0.1 (port chosen by the kernel) with one connection made and accepted.
struct loopback_pair {
    loopback_pair() = default;
    loopback_pair(const loopback_pair&) = delete;
    loopback_pair& operator=(const loopback_pair&) = delete;
    // Both ends say they are done before either closes; otherwise the first close would wait out its drain for a
    // peer that closes only after it.
    ~loopback_pair() {
        if (client.handle >= 0) {
            ::shutdown(client.handle, SHUT_WR);
        }
        if (server != nullptr && server->handle >= 0) {
            ::shutdown(server->handle, SHUT_WR);
        }
    }

    net_socket listener;
    net_socket client;
    std::unique_ptr<net_socket> server;
    net_address peer;
};

// Whether ::1 can be bound here: a container may run with IPv6 switched off, and IPv6 tests then skip, saying so.
inline bool has_ipv6_loopback() {
    net_address local;
    net_socket probe;
    return resolve_address("::1", 0, local) && open_tcp_socket(probe, AF_INET6) && bind_socket(probe, local);
}
#define SKIP_WITHOUT_IPV6()                                                                                            \
    if (!::tiv::test::has_ipv6_loopback())                                                                             \
    GTEST_SKIP() << "this machine has no IPv6 loopback (::1): IPv6 is switched off"

inline void open_listener(net_socket& listener, std::uint16_t port = 0, const char* host = "127.0.0.1") {
    net_address local;
    ASSERT_TRUE(resolve_address(host, port, local));
    ASSERT_TRUE(open_tcp_socket(listener, local.family()));
    const sys_status bound = bind_socket(listener, local);
    ASSERT_TRUE(bound) << bound.text();
    ASSERT_TRUE(listen_socket(listener));
}

inline void connect_pair(loopback_pair& pair) {
    ASSERT_NO_FATAL_FAILURE(open_listener(pair.listener));
    ASSERT_TRUE(open_tcp_socket(pair.client));
    const sys_status connected = connect_socket(pair.client, pair.listener.address);
    ASSERT_TRUE(connected) << connected.text();
    auto accepted = accept_connection(pair.listener, &pair.peer);
    ASSERT_TRUE(accepted) << accepted.status().text();
    pair.server = std::move(accepted.value());
}

} // namespace tiv::test
