#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "net/net_socket.h"

namespace tiv {

// Sends and receives whole records of the key exchange. After the first failure the connection counts as gone
// and later transfers are not attempted, so a dead peer costs one time-out, not one per record.
class record_link {
public:
    explicit record_link(net_socket& socket) : m_oSocket(socket) {}

    template <std::size_t N> bool send(const std::array<std::uint8_t, N>& record) {
        m_bUp = m_bUp && send_all(m_oSocket, record.data(), static_cast<int>(N)) == static_cast<int>(N);
        return m_bUp;
    }
    // The count received, or -1.
    template <std::size_t N> int receive(std::array<std::uint8_t, N>& record) {
        const int got = m_bUp ? receive_all(m_oSocket, static_cast<int>(N), record.data()) : -1;
        m_bUp = got == static_cast<int>(N);
        return got;
    }
    [[nodiscard]] bool up() const { return m_bUp; }
    [[nodiscard]] net_socket& socket() { return m_oSocket; }

private:
    net_socket& m_oSocket;
    bool m_bUp = true;
};

} // namespace tiv
