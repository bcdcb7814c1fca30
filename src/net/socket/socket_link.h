#pragma once

#include <cerrno>
#include <limits>
#include <utility>

#include "core/coded_status.h"
#include "crypto/record_link.h"
#include "net/socket/net_socket.h"

namespace tiv {

// A connection as the authenticators see it: whole records in and out over the socket, with its time-outs. The
// authenticators know only that the link went down; failure() keeps why, for the words the user reads.
class socket_link final : public record_link {
public:
    explicit socket_link(net_socket& socket) : m_oSocket(socket) {}

    // Why the link went down (ETIMEDOUT for a silent peer); ok while it is up.
    [[nodiscard]] const sys_status& failure() const { return m_oFailure; }

protected:
    bool write_all(std::span<const std::uint8_t> bytes) override {
        return fits(bytes.size()) && noted(send_all(m_oSocket, bytes.data(), static_cast<int>(bytes.size())));
    }
    bool read_exact(std::span<std::uint8_t> bytes) override {
        return fits(bytes.size()) && noted(receive_all(m_oSocket, static_cast<int>(bytes.size()), bytes.data()));
    }

private:
    bool fits(std::size_t n) {
        if (n <= static_cast<std::size_t>(std::numeric_limits<int>::max())) {
            return true;
        }
        m_oFailure = sys_failure(EMSGSIZE, "cannot move a record that large");
        return false;
    }
    bool noted(sys_status outcome) {
        const bool went = outcome.ok();
        if (!went) {
            m_oFailure = std::move(outcome);
        }
        return went;
    }

    net_socket& m_oSocket;
    sys_status m_oFailure;
};

} // namespace tiv
