#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <netinet/in.h>
#include <span>
#include <vector>

#include "net/socket/net_address.h"

namespace tiv {

// One socket with its bookkeeping. The record owns its descriptor: destroying it while the descriptor is open runs
// the full close (half-close, drain, close). One thread uses a socket at a time.
struct net_socket {
    int handle = -1;     // -1 when there is none (never created, creation failed, or closed)
    int last_error = 0;  // errno of the last failing call an operation made on this socket
    net_address address; // the local address it was bound to, with the port the kernel chose for port 0
    // Linux keeps no per-socket message limit (there is no SO_MAX_MSG_SIZE); 0 stands for "none known".
    int max_message_size = 0;
    int receive_buffer_size = 0; // SO_RCVBUF read after binding
    int send_buffer_size = 0;    // SO_SNDBUF read after binding
    bool listening = false;
    std::vector<sockaddr_in> address_list; // filled by query_address_list
    // When set, receive_all fails with ETIMEDOUT once this moment has passed, however the bytes trickle in: a
    // time-out per receive alone lets a peer hold the connection by sending one byte just inside each one.
    std::chrono::steady_clock::time_point receive_deadline{};

    net_socket() = default;
    net_socket(const net_socket&) = delete;
    net_socket& operator=(const net_socket&) = delete;
    ~net_socket();
};

// Results of bind_socket.
inline constexpr int bind_succeeded = 1;
inline constexpr int bind_failed = 4;

// Largest datagram receive_datagram reads: an echo reply with its IP header fits.
inline constexpr std::size_t max_datagram_size = 140;

// Creates an IPv4 socket (close-on-exec) in `socket.handle`. An open handle is closed first, as close_socket does.
[[nodiscard]] bool open_socket(net_socket& socket, int type, int protocol);
// A TCP socket sends without waiting to fill a segment (TCP_NODELAY), as do the connections accept_connection hands
// over.
[[nodiscard]] bool open_tcp_socket(net_socket& socket);

// Sets a SOL_SOCKET option of integer width: 1 on success, -1 on failure (errno in last_error). SO_RCVTIMEO and
// SO_SNDTIMEO take milliseconds here, 0 meaning no time-out.
[[nodiscard]] int set_socket_option(net_socket& socket, int option, int value);
[[nodiscard]] bool set_receive_timeout(net_socket& socket, int milliseconds);
[[nodiscard]] bool set_send_timeout(net_socket& socket, int milliseconds);

// Sets IP_TTL and reads it back: true only when the kernel holds the value that was set.
[[nodiscard]] bool set_ttl(net_socket& socket, int value);

// Binds to `address` (copied into socket.address). Returns bind_succeeded, or bind_failed after closing the socket;
// last_error then holds the bind's own error. Local addresses in TIME_WAIT do not block a re-bind.
[[nodiscard]] int bind_socket(net_socket& socket, const net_address& address);

// listen with SOMAXCONN; sets `listening` to the outcome.
[[nodiscard]] bool listen_socket(net_socket& socket);

// Accepts one connection. The peer's socket address goes into peer->sockaddr when `peer` is given. Null on failure
// (errno in the listener's last_error); an accepted descriptor is never leaked.
[[nodiscard]] std::unique_ptr<net_socket> accept_connection(net_socket& listener, net_address* peer);

// Wakes a thread blocked in accept_connection on `listener`, which then returns null; later accepts fail at once.
// Closing the descriptor does not do this on Linux. Must not run while another thread closes the listener.
void interrupt_accept(const net_socket& listener);

// Connects to destination.sockaddr. A send time-out set before bounds the wait (ETIMEDOUT).
[[nodiscard]] bool connect_socket(net_socket& socket, const net_address& destination);

// Sends all n bytes, resuming after partial sends and signals; never raises SIGPIPE. n, or -1 with the error in
// last_error (ETIMEDOUT when the send time-out expired).
[[nodiscard]] int send_all(net_socket& socket, const void* buffer, int n);

// Receives exactly n bytes: n, or -1. A peer that closes early leaves last_error untouched; a silent peer past
// the receive time-out gives ETIMEDOUT.
// Sets (milliseconds from now) or, with 0, clears the socket's receive_deadline.
void set_receive_deadline(net_socket& socket, int milliseconds);
[[nodiscard]] int receive_all(net_socket& socket, int n, void* buffer);

// One datagram of at most max_datagram_size bytes (and at most buffer.size()). Its sender goes into `from` when
// given. The byte count, or -1 (ETIMEDOUT when the receive time-out expired).
[[nodiscard]] int receive_datagram(net_socket& socket, std::span<std::uint8_t> buffer, sockaddr_in* from);

// Reads and discards whatever arrives until the peer closes, an error, or the receive time-out (10 s when none is
// set) has passed in total, so a peer that never closes cannot hold a close forever.
void drain(net_socket& socket);

// Half-close, drain, close; then last_error and listening are cleared.
void close_socket(net_socket& socket);

// Half-close, drain, close; the errors met on the way stay in last_error.
void close_socket_keep_errors(net_socket& socket);

// Fills address_list with the IPv4 addresses of the machine's interfaces that are up (ports 0).
[[nodiscard]] bool query_address_list(net_socket& socket);

} // namespace tiv
