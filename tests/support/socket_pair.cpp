#include "support/socket_pair.h"

#include <arpa/inet.h>
#include <stdexcept>
#include <sys/socket.h>

namespace tiv::test {

socket_pair::~socket_pair() {
    for (net_socket* end : {client.get(), server.get()}) {
        if (end != nullptr && end->handle >= 0) {
            ::shutdown(end->handle, SHUT_WR);
        }
    }
}

socket_pair connect_loopback(int receive_timeout_ms) {
    net_socket listener;
    net_address local{};
    local.endpoint.v4.sin_family = AF_INET;
    local.endpoint.v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!open_tcp_socket(listener) || !bind_socket(listener, local) || !listen_socket(listener)) {
        throw std::runtime_error("cannot listen on loopback");
    }
    socket_pair pair;
    pair.client = std::make_unique<net_socket>();
    if (!open_tcp_socket(*pair.client) || !connect_socket(*pair.client, listener.address)) {
        throw std::runtime_error("cannot connect on loopback");
    }
    auto accepted = accept_connection(listener, nullptr);
    if (!accepted) {
        throw std::runtime_error("cannot accept on loopback");
    }
    pair.server = std::move(accepted.value());
    if (!set_receive_timeout(*pair.client, receive_timeout_ms) ||
        !set_receive_timeout(*pair.server, receive_timeout_ms)) {
        throw std::runtime_error("cannot accept on loopback");
    }
    return pair;
}

} // namespace tiv::test
