#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tiv {

// The byte stream an authenticator runs its exchange over: a connection in the program, a socket pair or a
// scripted peer in tests. After the first failure the link counts as gone and later transfers are not attempted,
// so a dead peer costs one time-out, not one per record.
class record_link {
public:
    record_link() = default;
    record_link(const record_link&) = delete;
    record_link& operator=(const record_link&) = delete;
    virtual ~record_link() = default;

    [[nodiscard]] bool send_bytes(std::span<const std::uint8_t> bytes) {
        m_bUp = m_bUp && write_all(bytes);
        return m_bUp;
    }
    // Exactly bytes.size() bytes; false when fewer arrived.
    [[nodiscard]] bool receive_bytes(std::span<std::uint8_t> bytes) {
        m_bUp = m_bUp && read_exact(bytes);
        return m_bUp;
    }
    template <std::size_t N> [[nodiscard]] bool send(const std::array<std::uint8_t, N>& record) {
        return send_bytes(std::span<const std::uint8_t>(record));
    }
    // The count received (N), or -1.
    template <std::size_t N> int receive(std::array<std::uint8_t, N>& record) {
        return receive_bytes(std::span<std::uint8_t>(record)) ? static_cast<int>(N) : -1;
    }
    [[nodiscard]] bool up() const { return m_bUp; }

protected:
    // Writes every byte; false on failure.
    [[nodiscard]] virtual bool write_all(std::span<const std::uint8_t> bytes) = 0;
    // Fills the whole span; false when the stream ends or fails first.
    [[nodiscard]] virtual bool read_exact(std::span<std::uint8_t> bytes) = 0;

private:
    bool m_bUp = true;
};

} // namespace tiv
