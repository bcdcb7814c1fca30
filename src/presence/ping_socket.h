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

// The ICMP sockets of the socket layer: one for IPv4 and one for ICMPv6, both of one kind. When no kind can be
// opened the object stays, not valid, and every ping on it ends with a status (the time-to-live cannot be set).
// A machine without IPv6 has only the IPv4 socket; a ping of an IPv6 address then ends the same way.
//
// The sockets are not bound: the kernel then picks the source address by route, so one socket reaches loopback and
// remote hosts alike, and replies are told apart by their identifier and sequence number instead.
class ping_socket {
public:
    // Opens raw sockets, or datagram sockets when the raw one is refused.
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

    // Sets the time-to-live (IPv6: hop limit) of the requests to destinations of `family`; fails with why when
    // there is no socket of that family.
    [[nodiscard]] sys_status set_ttl(int family, int value);
    // Throws away what is already waiting, so that the reads that follow see fresh messages first, then sets the
    // receive time-out.
    [[nodiscard]] sys_status drain_then_set_timeout(int milliseconds);

    // Sends one whole ICMP message on the socket of the destination's family. ETIMEDOUT when the send time-out
    // expired, EDESTADDRREQ for a destination that is no address or is 0.0.0.0 or "::", EMSGSIZE when only part of
    // it went out.
    [[nodiscard]] sys_status send_to(std::span<const std::uint8_t> message, const net_address& destination);

    // Waits up to `wait` for one ICMP message of either family: true when `out` holds it, false when something
    // arrived that is no ICMP message (dropped). ETIMEDOUT when nothing arrived.
    // On a datagram socket an ICMP error about one of our requests comes out like the message a raw socket would
    // have read.
    [[nodiscard]] status_or<bool, sys_status> receive(icmp_datagram& out, std::chrono::milliseconds wait);

private:
    bool open_kind(icmp_socket_kind kind);
    void open_ipv6(icmp_socket_kind kind);
    status_or<bool, sys_status> receive_from(net_socket& socket, int family, icmp_datagram& out);
    status_or<bool, sys_status> receive_error_report(int family, icmp_datagram& out);

    net_socket m_oSocket;
    net_socket m_oSocket6; // not open on a machine without IPv6
    icmp_socket_kind m_nKind = icmp_socket_kind::none;
    sys_status m_oOpenStatus;
    sys_status m_oOpenStatus6;
};

} // namespace tiv
