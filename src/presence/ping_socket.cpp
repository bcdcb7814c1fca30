#include "presence/ping_socket.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <linux/errqueue.h>
#include <netinet/icmp6.h>
#include <netinet/ip.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>

namespace tiv {

namespace {

// Room for the IP header with options and the ICMP message a 128-byte request draws.
constexpr std::size_t receive_capacity = 60 + max_request_length;
constexpr std::size_t control_capacity = 256;
constexpr int min_ip_header_size = 20;
constexpr int ipv6_header_size = 40;
constexpr std::uint8_t next_header_icmpv6 = 58;

in_addr packet_destination(msghdr& message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO && c->cmsg_len >= CMSG_LEN(sizeof(in_pktinfo))) {
            in_pktinfo info = {};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            return info.ipi_addr;
        }
    }
    return in_addr{};
}

in6_addr packet_destination6(msghdr& message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO &&
            c->cmsg_len >= CMSG_LEN(sizeof(in6_pktinfo))) {
            in6_pktinfo info = {};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            return info.ipi6_addr;
        }
    }
    return in6_addr{};
}

// The extended error the kernel queued with a message of the error queue, when it came from an ICMP message of
// `level`'s family and names the offender.
const sock_extended_err* icmp_error_report(msghdr& message, int level, int type, std::uint8_t origin,
                                           std::size_t offender_size) {
    const sock_extended_err* report = nullptr;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == level && c->cmsg_type == type &&
            c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err) + offender_size)) {
            report = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
        }
    }
    return report != nullptr && report->ee_origin == origin ? report : nullptr;
}

// Rebuilds what a raw socket would have read for a queued error: an IP header, the error message's own 8 bytes,
// then the quoted IP header and the 8 bytes of our request. The checksum was not handed over and stays zero.
bool parse_ipv4_error_report(const sock_extended_err& report, std::span<const std::uint8_t, 8> request,
                             in_addr destination, icmp_datagram& out) {
    std::array<std::uint8_t, 2 * min_ip_header_size + 16> rebuilt{};
    rebuilt[0] = 0x45;
    rebuilt[9] = IPPROTO_ICMP;
    sockaddr_in offender = {};
    std::memcpy(&offender, SO_EE_OFFENDER(&report), sizeof offender);
    std::memcpy(&rebuilt[12], &offender.sin_addr, sizeof offender.sin_addr);
    std::memcpy(&rebuilt[16], &destination, sizeof destination);
    rebuilt[min_ip_header_size] = report.ee_type;
    rebuilt[min_ip_header_size + 1] = report.ee_code;
    const std::size_t quoted_at = min_ip_header_size + 8;
    rebuilt[quoted_at] = 0x45;
    rebuilt[quoted_at + 9] = IPPROTO_ICMP;
    std::memcpy(&rebuilt[quoted_at + min_ip_header_size], request.data(), request.size());
    return parse_ip_datagram(rebuilt, out);
}

// The ICMPv6 message a raw socket would have read: the error's own 8 bytes, then the quoted IPv6 header and the
// 8 bytes of our request.
bool parse_ipv6_error_report(const sock_extended_err& report, std::span<const std::uint8_t, 8> request,
                             const in6_addr& destination, icmp_datagram& out) {
    std::array<std::uint8_t, 8 + ipv6_header_size + 8> rebuilt{};
    rebuilt[0] = report.ee_type;
    rebuilt[1] = report.ee_code;
    rebuilt[8] = 0x60;
    rebuilt[8 + 6] = next_header_icmpv6;
    std::memcpy(&rebuilt[8 + ipv6_header_size], request.data(), request.size());
    sockaddr_in6 offender = {};
    std::memcpy(&offender, SO_EE_OFFENDER(&report), sizeof offender);
    return parse_icmpv6_message(rebuilt, offender, destination, out);
}

bool set_on(net_socket& socket, int level, int option) {
    const int on = 1;
    return ::setsockopt(socket.handle, level, option, &on, sizeof on) == 0;
}

// A raw ICMPv6 socket sees every ICMPv6 message the host receives, neighbour discovery included; only echo replies
// and the errors that can quote a request of ours are worth waking for.
bool pass_only_answers(net_socket& socket) {
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    for (const int type :
         {ICMP6_ECHO_REPLY, ICMP6_DST_UNREACH, ICMP6_PACKET_TOO_BIG, ICMP6_TIME_EXCEEDED, ICMP6_PARAM_PROB}) {
        ICMP6_FILTER_SETPASS(type, &filter);
    }
    return ::setsockopt(socket.handle, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) == 0;
}

} // namespace

const char* icmp_socket_kind_text(icmp_socket_kind kind) {
    switch (kind) {
    case icmp_socket_kind::raw:
        return "raw ICMP socket";
    case icmp_socket_kind::datagram:
        return "ICMP datagram socket";
    case icmp_socket_kind::none:
        break;
    }
    return "no ICMP socket";
}

ping_socket::ping_socket() {
    if (!open_kind(icmp_socket_kind::raw)) {
        (void)open_kind(icmp_socket_kind::datagram);
    }
}

ping_socket::ping_socket(icmp_socket_kind only) {
    if (only != icmp_socket_kind::none) {
        (void)open_kind(only);
    }
}

ping_socket::~ping_socket() {
    // The close drains for as long as the receive time-out; a datagram socket without one is not waited for.
    for (net_socket* socket : {&m_oSocket, &m_oSocket6}) {
        if (socket->handle >= 0) {
            (void)set_receive_timeout(*socket, 0);
        }
        close_socket(*socket);
    }
}

bool ping_socket::open_kind(icmp_socket_kind kind) {
    const int type = kind == icmp_socket_kind::raw ? SOCK_RAW : SOCK_DGRAM;
    const std::string what = std::string("cannot open the ") + icmp_socket_kind_text(kind);
    if (const sys_status opened = open_socket(m_oSocket, type, IPPROTO_ICMP); !opened) {
        m_oOpenStatus = sys_failure(opened.code(), what);
        return false;
    }
    // The datagram socket hands ICMP errors over only through the error queue, and strips the IP header, so the
    // reply's destination comes as packet information.
    if (kind == icmp_socket_kind::datagram &&
        (!set_on(m_oSocket, IPPROTO_IP, IP_RECVERR) || !set_on(m_oSocket, IPPROTO_IP, IP_PKTINFO))) {
        m_oOpenStatus = sys_failure(errno, what);
        close_socket(m_oSocket);
        return false;
    }
    m_nKind = kind;
    m_oOpenStatus = {};
    open_ipv6(kind);
    return true;
}

void ping_socket::open_ipv6(icmp_socket_kind kind) {
    const int type = kind == icmp_socket_kind::raw ? SOCK_RAW : SOCK_DGRAM;
    const std::string what = std::string("cannot open the ICMPv6 kind of the ") + icmp_socket_kind_text(kind);
    if (const sys_status opened = open_socket(m_oSocket6, type, IPPROTO_ICMPV6, AF_INET6); !opened) {
        m_oOpenStatus6 = sys_failure(opened.code(), what);
        return;
    }
    // Both kinds strip the IPv6 header, so the destination always comes as packet information.
    const bool ready = set_on(m_oSocket6, IPPROTO_IPV6, IPV6_RECVPKTINFO) &&
                       (kind == icmp_socket_kind::raw ? pass_only_answers(m_oSocket6)
                                                      : set_on(m_oSocket6, IPPROTO_IPV6, IPV6_RECVERR));
    if (!ready) {
        m_oOpenStatus6 = sys_failure(errno, what);
        close_socket(m_oSocket6);
    }
}

sys_status ping_socket::set_ttl(int family, int value) {
    if (family == AF_INET6 && m_oSocket6.handle < 0) {
        return m_oOpenStatus6.ok() ? sys_failure(EAFNOSUPPORT, "no ICMPv6 socket") : m_oOpenStatus6;
    }
    return tiv::set_ttl(family == AF_INET6 ? m_oSocket6 : m_oSocket, value);
}

sys_status ping_socket::drain_then_set_timeout(int milliseconds) {
    constexpr int drain_timeout_ms = 10;
    for (net_socket* socket : {&m_oSocket, &m_oSocket6}) {
        if (socket->handle < 0) {
            continue;
        }
        if (set_receive_timeout(*socket, drain_timeout_ms)) {
            (void)drain(*socket);
        }
        if (sys_status set = set_receive_timeout(*socket, milliseconds); !set) {
            return set;
        }
    }
    return {};
}

sys_status ping_socket::send_to(std::span<const std::uint8_t> message, const net_address& destination) {
    const char* what = "cannot send an ICMP message";
    // The kernel takes a zeroed address (an unresolved friend) as this very host and would answer for it.
    if ((destination.family() != AF_INET && destination.family() != AF_INET6) || is_unspecified(destination)) {
        return sys_failure(EDESTADDRREQ, what);
    }
    const net_socket& socket = destination.is_ipv6() ? m_oSocket6 : m_oSocket;
    // A raw IPv6 socket reads the port as a protocol number and refuses any but its own; ICMP has no ports.
    net_address to = destination;
    to.set_port(0);
    for (;;) {
        const ssize_t sent = ::sendto(socket.handle, message.data(), message.size(), MSG_NOSIGNAL, to.socket_address(),
                                      to.socket_length());
        if (sent >= 0) {
            return static_cast<std::size_t>(sent) == message.size()
                       ? sys_status()
                       : sys_failure(EMSGSIZE, std::string(what) + " whole: " + std::to_string(sent) + " of " +
                                                   std::to_string(message.size()) + " bytes went out");
        }
        if (errno != EINTR) {
            return sys_failure((errno == EAGAIN || errno == EWOULDBLOCK) ? ETIMEDOUT : errno, what);
        }
    }
}

status_or<bool, sys_status> ping_socket::receive(icmp_datagram& out, std::chrono::milliseconds wait) {
    const char* what = "cannot receive an ICMP message";
    // poll passes over the entry of a socket that is not open (a negative handle).
    std::array<pollfd, 2> waiting = {{{m_oSocket.handle, POLLIN, 0}, {m_oSocket6.handle, POLLIN, 0}}};
    const int ready = ::poll(waiting.data(), waiting.size(),
                             static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0)));
    if (ready < 0) {
        return sys_failure(errno, what);
    }
    if (ready == 0) {
        return sys_failure(ETIMEDOUT, what);
    }
    const bool first_ready = waiting[0].revents != 0;
    const short events = first_ready ? waiting[0].revents : waiting[1].revents;
    if ((events & POLLNVAL) != 0) {
        return sys_failure(EBADF, what);
    }
    if ((events & POLLERR) != 0 && m_nKind == icmp_socket_kind::datagram) {
        return receive_error_report(first_ready ? AF_INET : AF_INET6, out);
    }
    return first_ready ? receive_from(m_oSocket, AF_INET, out) : receive_from(m_oSocket6, AF_INET6, out);
}

status_or<bool, sys_status> ping_socket::receive_from(net_socket& socket, int family, icmp_datagram& out) {
    std::array<std::uint8_t, receive_capacity> buffer{};
    alignas(cmsghdr) std::array<char, control_capacity> control{};
    ip_endpoint from = {};
    iovec piece = {buffer.data(), buffer.size()};
    msghdr message = {};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t count = ::recvmsg(socket.handle, &message, MSG_DONTWAIT);
    if (count < 0) {
        return sys_failure((errno == EAGAIN || errno == EWOULDBLOCK) ? ETIMEDOUT : errno,
                           "cannot receive an ICMP message");
    }
    // A datagram cut short by the buffer is no reply of ours: our requests are at most 128 bytes.
    if ((message.msg_flags & MSG_TRUNC) != 0) {
        return false;
    }
    const std::span<const std::uint8_t> bytes(buffer.data(), static_cast<std::size_t>(count));
    if (family == AF_INET6) {
        return parse_icmpv6_message(bytes, from.v6, packet_destination6(message), out);
    }
    return m_nKind == icmp_socket_kind::raw
               ? parse_ip_datagram(bytes, out)
               : parse_icmp_message(bytes, from.v4.sin_addr, packet_destination(message), out);
}

status_or<bool, sys_status> ping_socket::receive_error_report(int family, icmp_datagram& out) {
    // The kernel queues the header of our own request that the error message quoted.
    std::array<std::uint8_t, receive_capacity> quoted{};
    alignas(cmsghdr) std::array<char, control_capacity> control{};
    iovec piece = {quoted.data(), quoted.size()};
    msghdr message = {};
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const bool v6 = family == AF_INET6;
    const ssize_t count = ::recvmsg((v6 ? m_oSocket6 : m_oSocket).handle, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (count < 0) {
        return sys_failure(errno, v6 ? "cannot receive an ICMPv6 error report" : "cannot receive an ICMP error report");
    }
    const sock_extended_err* report =
        v6 ? icmp_error_report(message, IPPROTO_IPV6, IPV6_RECVERR, SO_EE_ORIGIN_ICMP6, sizeof(sockaddr_in6))
           : icmp_error_report(message, IPPROTO_IP, IP_RECVERR, SO_EE_ORIGIN_ICMP, sizeof(sockaddr_in));
    if (report == nullptr || count < 8) {
        return false;
    }
    const std::span<const std::uint8_t, 8> request(quoted.data(), 8);
    return v6 ? parse_ipv6_error_report(*report, request, packet_destination6(message), out)
              : parse_ipv4_error_report(*report, request, packet_destination(message), out);
}

} // namespace tiv
