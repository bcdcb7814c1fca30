#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

// Fixed-width numbers in bytes. Wire records, files, key blobs and registry numbers are little-endian whatever the
// host is; only the IP family's own headers (ICMP, the TLS record header) keep network order.
namespace tiv {

inline void put_le16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void put_le32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

inline void put_le64(std::uint8_t* at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

inline void put_be16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

inline std::uint16_t get_le16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

inline std::uint32_t get_le32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

inline std::uint64_t get_le64(const std::uint8_t* at) {
    return static_cast<std::uint64_t>(get_le32(at)) | static_cast<std::uint64_t>(get_le32(at + 4)) << 32;
}

inline std::uint16_t get_be16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}

// Appending grows the vector first and copies after: GCC 12 at -O3 takes a range insert of a few bytes into a
// vector for an overflow that cannot happen.
inline void append_bytes(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return;
    }
    const std::size_t at = out.size();
    out.resize(at + bytes.size());
    std::memcpy(out.data() + at, bytes.data(), bytes.size());
}

inline void append_le16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    const std::size_t at = out.size();
    out.resize(at + 2);
    put_le16(out.data() + at, value);
}

inline void append_le32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    const std::size_t at = out.size();
    out.resize(at + 4);
    put_le32(out.data() + at, value);
}

inline void append_le64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    const std::size_t at = out.size();
    out.resize(at + 8);
    put_le64(out.data() + at, value);
}

// Builds bytes field by field, front to back, in the order a field_reader reads them back.
class field_writer {
public:
    field_writer& u8(std::uint8_t value) {
        m_aBytes.push_back(value);
        return *this;
    }
    field_writer& le16(std::uint16_t value) {
        append_le16(m_aBytes, value);
        return *this;
    }
    field_writer& le32(std::uint32_t value) {
        append_le32(m_aBytes, value);
        return *this;
    }
    field_writer& le64(std::uint64_t value) {
        append_le64(m_aBytes, value);
        return *this;
    }
    field_writer& bytes(std::span<const std::uint8_t> value) {
        append_bytes(m_aBytes, value);
        return *this;
    }
    // A text after its length in 16 bits; the caller keeps it short enough for that.
    field_writer& text16(std::string_view text) {
        return le16(static_cast<std::uint16_t>(text.size())).bytes(as_bytes(text));
    }
    // A text after its length in one byte; the caller keeps it short enough for that.
    field_writer& text8(std::string_view text) {
        return u8(static_cast<std::uint8_t>(text.size())).bytes(as_bytes(text));
    }

    [[nodiscard]] std::vector<std::uint8_t> take() { return std::move(m_aBytes); }

private:
    static std::span<const std::uint8_t> as_bytes(std::string_view text) {
        return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
    }

    std::vector<std::uint8_t> m_aBytes;
};

// Reads the fields of bytes that came from outside, front to back. Every read checks that its bytes are there
// before it touches them; one that finds too few reads nothing and fails, and so does every read after it, so a
// parser can chain its reads and ask once.
class field_reader {
public:
    explicit field_reader(std::span<const std::uint8_t> bytes) : m_aBytes(bytes) {}

    [[nodiscard]] bool u8(std::uint8_t& value) {
        if (!room(1)) {
            return false;
        }
        value = m_aBytes[m_nAt++];
        return true;
    }
    [[nodiscard]] bool le16(std::uint16_t& value) { return fixed(2, value, get_le16); }
    [[nodiscard]] bool le32(std::uint32_t& value) { return fixed(4, value, get_le32); }
    [[nodiscard]] bool le64(std::uint64_t& value) { return fixed(8, value, get_le64); }
    [[nodiscard]] bool be16(std::uint16_t& value) { return fixed(2, value, get_be16); }

    // The next `n` bytes where they lie.
    [[nodiscard]] bool take(std::size_t n, std::span<const std::uint8_t>& bytes) {
        if (!room(n)) {
            return false;
        }
        bytes = m_aBytes.subspan(m_nAt, n);
        m_nAt += n;
        return true;
    }
    // Fills `out` whole from the next bytes.
    [[nodiscard]] bool copy(std::span<std::uint8_t> out) {
        std::span<const std::uint8_t> bytes;
        if (!take(out.size(), bytes)) {
            return false;
        }
        if (!bytes.empty()) {
            std::memcpy(out.data(), bytes.data(), bytes.size());
        }
        return true;
    }
    [[nodiscard]] bool skip(std::size_t n) {
        std::span<const std::uint8_t> ignored;
        return take(n, ignored);
    }

    // Bytes not read yet; none once a read has failed.
    [[nodiscard]] std::size_t remaining() const { return m_bFailed ? 0 : m_aBytes.size() - m_nAt; }
    // Every byte read, and no read failed: what a parser of a whole record asks last.
    [[nodiscard]] bool at_end() const { return !m_bFailed && m_nAt == m_aBytes.size(); }

private:
    [[nodiscard]] bool room(std::size_t n) {
        if (m_bFailed || m_aBytes.size() - m_nAt < n) {
            m_bFailed = true;
            return false;
        }
        return true;
    }
    template <typename Number, typename Get> bool fixed(std::size_t n, Number& value, Get get) {
        if (!room(n)) {
            return false;
        }
        value = get(m_aBytes.data() + m_nAt);
        m_nAt += n;
        return true;
    }

    std::span<const std::uint8_t> m_aBytes;
    std::size_t m_nAt = 0;
    bool m_bFailed = false;
};

} // namespace tiv
