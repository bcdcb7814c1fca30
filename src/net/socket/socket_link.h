#pragma once

#include <limits>

#include "crypto/record_link.h"
#include "net/socket/net_socket.h"

namespace tiv {

// A connection as the authenticators see it: whole records in and out over the socket, with its time-outs.
class socket_link final : public record_link {
public:
    explicit socket_link(net_socket& socket) : m_oSocket(socket) {}

protected:
    bool write_all(std::span<const std::uint8_t> bytes) override {
        return fits(bytes.size()) &&
               send_all(m_oSocket, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
    }
    bool read_exact(std::span<std::uint8_t> bytes) override {
        return fits(bytes.size()) &&
               receive_all(m_oSocket, static_cast<int>(bytes.size()), bytes.data()) == static_cast<int>(bytes.size());
    }

private:
    static bool fits(std::size_t n) { return n <= static_cast<std::size_t>(std::numeric_limits<int>::max()); }

    net_socket& m_oSocket;
};

} // namespace tiv
