#include "presence/ping_socket.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <linux/errqueue.h>
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
    if (valid()) {
        (void)set_receive_timeout(m_oSocket, 0);
    }
    close_socket(m_oSocket);
}

bool ping_socket::open_kind(icmp_socket_kind kind) {
    const int type = kind == icmp_socket_kind::raw ? SOCK_RAW : SOCK_DGRAM;
    const std::string what = std::string("cannot open the ") + icmp_socket_kind_text(kind);
    if (const sys_status opened = open_socket(m_oSocket, type, IPPROTO_ICMP); !opened) {
        m_oOpenStatus = sys_failure(opened.code(), what);
        return false;
    }
    if (kind == icmp_socket_kind::datagram) {
        // The datagram socket hands ICMP errors over only through the error queue, and strips the IP header, so
        // the reply's destination comes as packet information.
        const int on = 1;
        if (::setsockopt(m_oSocket.handle, IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0 ||
            ::setsockopt(m_oSocket.handle, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
            m_oOpenStatus = sys_failure(errno, what);
            close_socket(m_oSocket);
            return false;
        }
    }
    m_nKind = kind;
    m_oOpenStatus = {};
    return true;
}

sys_status ping_socket::send_to(std::span<const std::uint8_t> message, const sockaddr_in& destination) {
    const char* what = "cannot send an ICMP message";
    // The kernel takes a zeroed address (an unresolved friend) as this very host and would answer for it.
    if (destination.sin_family != AF_INET || destination.sin_addr.s_addr == INADDR_ANY) {
        return sys_failure(EDESTADDRREQ, what);
    }
    for (;;) {
        const ssize_t sent = ::sendto(m_oSocket.handle, message.data(), message.size(), MSG_NOSIGNAL,
                                      reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
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
    pollfd waiting = {m_oSocket.handle, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0)));
    if (ready < 0) {
        return sys_failure(errno, what);
    }
    if (ready == 0) {
        return sys_failure(ETIMEDOUT, what);
    }
    if ((waiting.revents & POLLNVAL) != 0) {
        return sys_failure(EBADF, what);
    }
    if ((waiting.revents & POLLERR) != 0 && m_nKind == icmp_socket_kind::datagram) {
        return receive_error_report(out);
    }

    std::array<std::uint8_t, receive_capacity> buffer{};
    alignas(cmsghdr) std::array<char, control_capacity> control{};
    sockaddr_in from = {};
    iovec piece = {buffer.data(), buffer.size()};
    msghdr message = {};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t count = ::recvmsg(m_oSocket.handle, &message, MSG_DONTWAIT);
    if (count < 0) {
        return sys_failure((errno == EAGAIN || errno == EWOULDBLOCK) ? ETIMEDOUT : errno, what);
    }
    // A datagram cut short by the buffer is no reply of ours: our requests are at most 128 bytes.
    if ((message.msg_flags & MSG_TRUNC) != 0) {
        return false;
    }
    const std::span<const std::uint8_t> bytes(buffer.data(), static_cast<std::size_t>(count));
    return m_nKind == icmp_socket_kind::raw
               ? parse_ip_datagram(bytes, out)
               : parse_icmp_message(bytes, from.sin_addr, packet_destination(message), out);
}

status_or<bool, sys_status> ping_socket::receive_error_report(icmp_datagram& out) {
    // The kernel queues the header of our own request that the error message quoted.
    std::array<std::uint8_t, receive_capacity> quoted{};
    alignas(cmsghdr) std::array<char, control_capacity> control{};
    iovec piece = {quoted.data(), quoted.size()};
    msghdr message = {};
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t count = ::recvmsg(m_oSocket.handle, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (count < 0) {
        return sys_failure(errno, "cannot receive an ICMP error report");
    }
    const sock_extended_err* report = nullptr;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR &&
            c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in))) {
            report = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
        }
    }
    if (report == nullptr || report->ee_origin != SO_EE_ORIGIN_ICMP || count < 8) {
        return false;
    }
    // Rebuild what a raw socket would have read: an IP header, the error message's own 8 bytes, then the quoted
    // IP header and the 8 bytes of our request. The checksum was not handed over and stays zero.
    std::array<std::uint8_t, 2 * min_ip_header_size + 16> rebuilt{};
    rebuilt[0] = 0x45;
    rebuilt[9] = IPPROTO_ICMP;
    const sockaddr_in offender = *reinterpret_cast<const sockaddr_in*>(SO_EE_OFFENDER(report));
    std::memcpy(&rebuilt[12], &offender.sin_addr, sizeof offender.sin_addr);
    const in_addr destination = packet_destination(message);
    std::memcpy(&rebuilt[16], &destination, sizeof destination);
    rebuilt[min_ip_header_size] = report->ee_type;
    rebuilt[min_ip_header_size + 1] = report->ee_code;
    const std::size_t quoted_at = min_ip_header_size + 8;
    rebuilt[quoted_at] = 0x45;
    rebuilt[quoted_at + 9] = IPPROTO_ICMP;
    std::memcpy(&rebuilt[quoted_at + min_ip_header_size], quoted.data(), 8);
    return parse_ip_datagram(rebuilt, out);
}

} // namespace tiv
