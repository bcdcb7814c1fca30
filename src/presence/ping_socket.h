#pragma once

#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <span>

#include "core/coded_status.h"
#include "net/socket/net_socket.h"
#include "presence/icmp_message.h"

namespace tiv {

// Which kind of ICMP socket a ping_socket holds. A raw socket needs CAP_NET_RAW; without it the kernel's
// unprivileged ICMP datagram socket serves where net.ipv4.ping_group_range covers one of our groups.
enum class icmp_socket_kind : std::uint8_t { none, raw, datagram };

[[nodiscard]] const char* icmp_socket_kind_text(icmp_socket_kind kind);

// An ICMP socket of the socket layer. When no kind can be opened the object stays, not valid, and every ping on it
// ends with a status (the time-to-live cannot be set).
//
// The socket is not bound: the kernel then picks the source address by route, so one socket reaches loopback and
// remote hosts alike, and replies are told apart by their identifier and sequence number instead.
class ping_socket {
public:
    // Opens a raw socket, or the datagram socket when the raw one is refused.
    ping_socket();
    // Opens only the given kind (tests use this to reach each path).
    explicit ping_socket(icmp_socket_kind only);
    ping_socket(const ping_socket&) = delete;
    ping_socket& operator=(const ping_socket&) = delete;
    ~ping_socket();

    [[nodiscard]] bool valid() const { return m_nKind != icmp_socket_kind::none; }
    [[nodiscard]] icmp_socket_kind kind() const { return m_nKind; }
    // Why the opening was refused (of the last kind tried); ok when the socket is valid.
    [[nodiscard]] const sys_status& open_status() const { return m_oOpenStatus; }
    [[nodiscard]] net_socket& socket() { return m_oSocket; }

    // Sends one whole ICMP message. ETIMEDOUT when the send time-out expired, EDESTADDRREQ for a destination that
    // is no IPv4 address or is 0.0.0.0, EMSGSIZE when only part of it went out.
    [[nodiscard]] sys_status send_to(std::span<const std::uint8_t> message, const sockaddr_in& destination);

    // Waits up to `wait` for one ICMP message: true when `out` holds it, false when something arrived that is no
    // ICMP message (dropped). ETIMEDOUT when nothing arrived.
    // On the datagram socket an ICMP error about one of our requests comes out like the message a raw socket
    // would have read.
    [[nodiscard]] status_or<bool, sys_status> receive(icmp_datagram& out, std::chrono::milliseconds wait);

private:
    bool open_kind(icmp_socket_kind kind);
    status_or<bool, sys_status> receive_error_report(icmp_datagram& out);

    net_socket m_oSocket;
    icmp_socket_kind m_nKind = icmp_socket_kind::none;
    sys_status m_oOpenStatus;
};

} // namespace tiv
