#pragma once

#include <memory>

#include "net/socket/net_socket.h"

namespace tiv::test {

// Two ends of one TCP connection over 127.0.0.1, both with a receive time-out.
struct socket_pair {
    socket_pair() = default;
    socket_pair(socket_pair&&) = default;
    socket_pair& operator=(socket_pair&&) = default;
    // Half-closes both ends before either is closed, so neither close waits for the other.
    ~socket_pair();

    std::unique_ptr<net_socket> client;
    std::unique_ptr<net_socket> server;
};

[[nodiscard]] socket_pair connect_loopback(int receive_timeout_ms = 5000);

} // namespace tiv::test
