#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>

#include <gtest/gtest.h>

#include "loopback.h"
#include "net/socket/net_socket.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

using namespace std::chrono_literals;
using test::connect_pair;
using test::loopback_pair;
using test::open_listener;
using test::wait_for;

bool is_open(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

bool closes_on_exec(int fd) {
    return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
}

TEST(net_socket, bind_to_an_address_in_use_fails_with_its_reason_and_closes_the_socket) {
    net_socket first;
    ASSERT_NO_FATAL_FAILURE(open_listener(first));
    EXPECT_NE(first.address.endpoint.v4.sin_port, 0) << "the chosen port is recorded";
    EXPECT_GT(first.receive_buffer_size, 0);
    EXPECT_GT(first.send_buffer_size, 0);

    net_socket second;
    ASSERT_TRUE(open_tcp_socket(second));
    const int fd = second.handle;
    EXPECT_EQ(bind_socket(second, first.address).code(), EADDRINUSE);
    EXPECT_EQ(second.handle, -1);
    EXPECT_FALSE(is_open(fd));
}

TEST(net_socket, listener_rebinds_its_port_while_old_connections_wait_out_time_wait) {
    loopback_pair pair;
    ASSERT_NO_FATAL_FAILURE(connect_pair(pair));
    const net_address local = pair.listener.address;
    // The accepted side closes first, so its end of the connection stays in TIME_WAIT on the listener's port.
    std::thread closer([&] { close_socket(*pair.server); });
    char byte = 0;
    EXPECT_FALSE(receive_all(pair.client, 1, &byte));
    close_socket(pair.client);
    closer.join();
    close_socket(pair.listener);

    net_socket again;
    ASSERT_TRUE(open_tcp_socket(again));
    const sys_status bound = bind_socket(again, local);
    EXPECT_TRUE(bound) << bound.text();
}

bool sends_without_delay(int fd) {
    int on = 0;
    socklen_t length = sizeof on;
    return ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &length) == 0 && on != 0;
}

TEST(net_socket, both_ends_of_a_connection_send_without_waiting_for_acknowledgements) {
    loopback_pair pair;
    ASSERT_NO_FATAL_FAILURE(open_listener(pair.listener));
    // Cleared on the listener, so the accepted socket cannot simply inherit it.
    const int off = 0;
    ASSERT_EQ(::setsockopt(pair.listener.handle, IPPROTO_TCP, TCP_NODELAY, &off, sizeof off), 0);
    ASSERT_TRUE(open_tcp_socket(pair.client));
    EXPECT_TRUE(sends_without_delay(pair.client.handle));
    ASSERT_TRUE(connect_socket(pair.client, pair.listener.address));
    const auto accepted = accept_connection(pair.listener, nullptr);
    ASSERT_TRUE(accepted);
    EXPECT_TRUE(sends_without_delay(accepted.value()->handle));
}

TEST(net_socket, accept_fills_the_peer_address_and_hands_over_close_on_exec_descriptors) {
    loopback_pair pair;
    ASSERT_NO_FATAL_FAILURE(connect_pair(pair));
    sockaddr_in client_side = {};
    socklen_t length = sizeof client_side;
    ASSERT_EQ(::getsockname(pair.client.handle, reinterpret_cast<::sockaddr*>(&client_side), &length), 0);
    EXPECT_EQ(pair.peer.endpoint.v4.sin_family, AF_INET);
    EXPECT_EQ(pair.peer.endpoint.v4.sin_port, client_side.sin_port);
    EXPECT_EQ(pair.peer.endpoint.v4.sin_addr.s_addr, client_side.sin_addr.s_addr);
    EXPECT_TRUE(closes_on_exec(pair.client.handle));
    EXPECT_TRUE(closes_on_exec(pair.server->handle));
    EXPECT_FALSE(pair.server->listening);

    net_socket second;
    ASSERT_TRUE(open_tcp_socket(second));
    ASSERT_TRUE(connect_socket(second, pair.listener.address));
    EXPECT_TRUE(accept_connection(pair.listener, nullptr));
    EXPECT_EQ(::shutdown(second.handle, SHUT_WR), 0);
}

TEST(net_socket, interrupted_accept_fails) {
    net_socket listener;
    ASSERT_NO_FATAL_FAILURE(open_listener(listener));
    std::atomic<bool> done = false;
    bool accepted = true;
    std::thread acceptor([&] {
        accepted = accept_connection(listener, nullptr).ok();
        done = true;
    });
    interrupt_accept(listener);
    EXPECT_TRUE(wait_for([&] { return done.load(); }, 5s));
    acceptor.join();
    EXPECT_FALSE(accepted);
}

TEST(net_socket, failed_connect_and_accept_record_their_errors) {
    net_socket listener;
    ASSERT_NO_FATAL_FAILURE(open_listener(listener));
    const net_address gone = listener.address;
    close_socket(listener);
    net_socket client;
    ASSERT_TRUE(open_tcp_socket(client));
    EXPECT_EQ(connect_socket(client, gone).code(), ECONNREFUSED);
    EXPECT_EQ(accept_connection(client, nullptr).status().code(), EINVAL);
}

long timeout_ms(const net_socket& socket, int option) {
    timeval limit = {};
    socklen_t length = sizeof limit;
    EXPECT_EQ(::getsockopt(socket.handle, SOL_SOCKET, option, &limit, &length), 0);
    return limit.tv_sec * 1000 + limit.tv_usec / 1000;
}

TEST(net_socket, ttl_round_trip_and_mismatch) {
    net_socket socket;
    ASSERT_TRUE(open_tcp_socket(socket));
    EXPECT_TRUE(set_ttl(socket, 32));
    int held = 0;
    socklen_t length = sizeof held;
    ASSERT_EQ(::getsockopt(socket.handle, IPPROTO_IP, IP_TTL, &held, &length), 0);
    EXPECT_EQ(held, 32);
    // -1 asks the kernel for its default, so the value read back differs from the one set.
    EXPECT_FALSE(set_ttl(socket, -1));
    EXPECT_EQ(set_ttl(socket, 300).code(), EINVAL);
}

TEST(net_socket, time_outs_are_given_in_milliseconds) {
    net_socket socket;
    ASSERT_TRUE(open_tcp_socket(socket));
    EXPECT_TRUE(set_socket_option(socket, SO_RCVTIMEO, 10250));
    EXPECT_TRUE(set_send_timeout(socket, 10));
    // The kernel keeps time-outs in clock ticks, so what it reports back may be rounded up a little.
    EXPECT_GE(timeout_ms(socket, SO_RCVTIMEO), 10250);
    EXPECT_LT(timeout_ms(socket, SO_RCVTIMEO), 10300);
    EXPECT_GE(timeout_ms(socket, SO_SNDTIMEO), 10);
    EXPECT_LT(timeout_ms(socket, SO_SNDTIMEO), 60);
    EXPECT_EQ(set_socket_option(socket, SO_RCVTIMEO, -5).code(), EINVAL);
    EXPECT_TRUE(set_socket_option(socket, SO_KEEPALIVE, 1));

    close_socket(socket);
    EXPECT_EQ(set_socket_option(socket, SO_KEEPALIVE, 1).code(), EBADF);
}

TEST(net_socket, closing_a_listener_ends_it_at_once_and_reports_the_failed_half_close) {
    net_socket plain;
    ASSERT_NO_FATAL_FAILURE(open_listener(plain));
    close_socket(plain);
    EXPECT_EQ(plain.handle, -1);
    EXPECT_FALSE(plain.listening);

    // A listener cannot half-close: the reporting close says so.
    net_socket reporting;
    ASSERT_NO_FATAL_FAILURE(open_listener(reporting));
    const auto started = std::chrono::steady_clock::now();
    const sys_status closed = close_socket_reporting(reporting);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s) << "a listener's drain fails at once";
    EXPECT_EQ(reporting.handle, -1);
    EXPECT_FALSE(reporting.listening);
    EXPECT_EQ(closed.code(), ENOTCONN);
}

TEST(net_socket, destruction_closes_the_descriptor) {
    int fd = -1;
    {
        net_socket socket;
        ASSERT_TRUE(open_tcp_socket(socket));
        fd = socket.handle;
        EXPECT_TRUE(is_open(fd));
    }
    EXPECT_FALSE(is_open(fd));
}

TEST(net_socket, address_list_holds_the_loopback_interface_of_both_families) {
    net_socket socket;
    ASSERT_TRUE(open_tcp_socket(socket));
    ASSERT_TRUE(query_address_list(socket));
    std::vector<std::string> texts;
    for (const net_address& entry : socket.address_list) {
        texts.push_back(host_text(entry));
    }
    EXPECT_NE(std::find(texts.begin(), texts.end(), "127.0.0.1"), texts.end());
    SKIP_WITHOUT_IPV6();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "::1"), texts.end());
}

} // namespace
} // namespace tiv
