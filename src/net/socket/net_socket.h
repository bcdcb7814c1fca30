#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <netinet/in.h>
#include <span>
#include <vector>

#include "core/coded_status.h"
#include "net/socket/net_address.h"

namespace tiv {

// One socket with its bookkeeping. The record owns its descriptor: destroying it while the descriptor is open runs
// the full close (half-close, drain, close). One thread uses a socket at a time. Every call below that can fail
// says why in the status it returns.
struct net_socket {
    int handle = -1;     // -1 when there is none (never created, creation failed, or closed)
    net_address address; // the local address it was bound to, with the port the kernel chose for port 0
    // Linux keeps no per-socket message limit (there is no SO_MAX_MSG_SIZE); 0 stands for "none known".
    int max_message_size = 0;
    int receive_buffer_size = 0; // SO_RCVBUF read after binding
    int send_buffer_size = 0;    // SO_SNDBUF read after binding
    bool listening = false;
    std::vector<net_address> address_list; // filled by query_address_list
    // When set, receive_all fails with ETIMEDOUT once this moment has passed, however the bytes trickle in: a
    // time-out per receive alone lets a peer hold the connection by sending one byte just inside each one.
    std::chrono::steady_clock::time_point receive_deadline{};

    net_socket() = default;
    net_socket(const net_socket&) = delete;
    net_socket& operator=(const net_socket&) = delete;
    ~net_socket();
};

// Largest datagram receive_datagram reads: an echo reply with its IP header fits.
inline constexpr std::size_t max_datagram_size = 140;

// Creates a socket of `family` (close-on-exec) in `socket.handle`. An open handle is closed first, as close_socket
// does.
[[nodiscard]] sys_status open_socket(net_socket& socket, int type, int protocol, int family = AF_INET);
// A TCP socket sends without waiting to fill a segment (TCP_NODELAY), as do the connections accept_connection hands
// over.
[[nodiscard]] sys_status open_tcp_socket(net_socket& socket, int family = AF_INET);

// Sets a SOL_SOCKET option of integer width. SO_RCVTIMEO and SO_SNDTIMEO take milliseconds here, 0 meaning no
// time-out; a negative one is refused (EINVAL).
[[nodiscard]] sys_status set_socket_option(net_socket& socket, int option, int value);
[[nodiscard]] sys_status set_receive_timeout(net_socket& socket, int milliseconds);
[[nodiscard]] sys_status set_send_timeout(net_socket& socket, int milliseconds);

// Sets IP_TTL (IPV6_UNICAST_HOPS on an IPv6 socket) and reads it back: ok only when the kernel holds the value
// that was set (EINVAL when it holds another).
[[nodiscard]] sys_status set_ttl(net_socket& socket, int value);

// Binds to `address` (copied into socket.address). A failed bind closes the socket; its status is the bind's own
// error. Local addresses in TIME_WAIT do not block a re-bind. An IPv6 socket bound to "::" takes IPv4 peers too,
// whatever the system's default (net.ipv6.bindv6only).
[[nodiscard]] sys_status bind_socket(net_socket& socket, const net_address& address);

// listen with SOMAXCONN; sets `listening` to the outcome.
[[nodiscard]] sys_status listen_socket(net_socket& socket);

// Accepts one connection. The peer's socket address goes into peer->endpoint when `peer` is given, an IPv4 peer
// of a dual-stack listener as its IPv4 address. An accepted descriptor is never leaked.
[[nodiscard]] status_or<std::unique_ptr<net_socket>, sys_status> accept_connection(net_socket& listener,
                                                                                   net_address* peer);

// Wakes a thread blocked in accept_connection on `listener`, which then fails; later accepts fail at once.
// Closing the descriptor does not do this on Linux. Must not run while another thread closes the listener.
void interrupt_accept(const net_socket& listener);

// Connects to destination.endpoint. A send time-out set before bounds the wait (ETIMEDOUT). The failure reads
// "cannot connect to 10.0.0.2:2502: Connection refused".
[[nodiscard]] sys_status connect_socket(net_socket& socket, const net_address& destination);

// Sends all n bytes, resuming after partial sends and signals; never raises SIGPIPE. ETIMEDOUT when the send
// time-out expired.
[[nodiscard]] sys_status send_all(net_socket& socket, const void* buffer, int n);

// Sets (milliseconds from now) or, with 0, clears the socket's receive_deadline.
void set_receive_deadline(net_socket& socket, int milliseconds);
// Receives exactly n bytes. A silent peer past the receive time-out or the deadline gives ETIMEDOUT; a peer that
// ends its stream before the n bytes gives ECONNRESET.
[[nodiscard]] sys_status receive_all(net_socket& socket, int n, void* buffer);

// One datagram of at most max_datagram_size bytes (and at most buffer.size()): its byte count. Its sender goes
// into `from` when given. ETIMEDOUT when the receive time-out expired.
[[nodiscard]] status_or<int, sys_status> receive_datagram(net_socket& socket, std::span<std::uint8_t> buffer,
                                                          net_address* from);

// Reads and discards whatever arrives until the peer closes, an error, or the receive time-out (10 s when none is
// set) has passed in total (ETIMEDOUT), so a peer that never closes cannot hold a close forever. Ok when the peer
// closed, or when a datagram socket without a time-out had nothing more queued.
[[nodiscard]] sys_status drain(net_socket& socket);

// Half-close, drain, close; then `listening` is cleared. Whatever fails on the way is of no interest.
void close_socket(net_socket& socket);

// close_socket for a caller that wants to know how it went: the last failure met on the way, ok for none.
[[nodiscard]] sys_status close_socket_reporting(net_socket& socket);

// Fills address_list with the IPv4 and IPv6 addresses of the machine's interfaces that are up (ports 0; a
// link-local IPv6 address with its zone).
[[nodiscard]] sys_status query_address_list(net_socket& socket);

} // namespace tiv
