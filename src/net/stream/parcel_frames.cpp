#include "net/stream/parcel_frames.h"

#include <algorithm>
#include <cstring>

#include "core/little_endian.h"

namespace tiv {

namespace {
// Grows the vector first and copies after: GCC 12 at -O3 takes a range insert of a few bytes into a vector for an
// overflow that cannot happen.
void put_bytes(std::vector<std::uint8_t>& out, const void* bytes, std::size_t n) {
    if (n == 0) {
        return;
    }
    const std::size_t at = out.size();
    out.resize(at + n);
    std::memcpy(out.data() + at, bytes, n);
}

void put_u64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    std::uint8_t bytes[4];
    put_le32(bytes, value);
    put_bytes(out, bytes, sizeof bytes);
}

void put_text(std::vector<std::uint8_t>& out, const std::string& text) {
    const std::size_t length = std::min(text.size(), max_sent_path);
    std::uint8_t bytes[2];
    put_le16(bytes, static_cast<std::uint16_t>(length));
    put_bytes(out, bytes, sizeof bytes);
    put_bytes(out, text.data(), length);
}

// Reads fields front to back; once a read runs past the end every later one fails too.
class field_reader {
public:
    explicit field_reader(std::span<const std::uint8_t> bytes) : m_aBytes(bytes) {}

    bool u8(std::uint8_t& value) {
        if (!room(1)) {
            return false;
        }
        value = m_aBytes[m_nAt++];
        return true;
    }
    bool u32(std::uint32_t& value) {
        if (!room(4)) {
            return false;
        }
        value = get_le32(m_aBytes.data() + m_nAt);
        m_nAt += 4;
        return true;
    }
    bool u64(std::uint64_t& value) {
        if (!room(8)) {
            return false;
        }
        value = 0;
        for (int i = 7; i >= 0; --i) {
            value = value << 8 | m_aBytes[m_nAt + static_cast<std::size_t>(i)];
        }
        m_nAt += 8;
        return true;
    }
    bool text(std::string& value) {
        if (!room(2)) {
            return false;
        }
        const std::size_t length = get_le16(m_aBytes.data() + m_nAt);
        m_nAt += 2;
        if (length > max_sent_path || !room(length)) {
            return false;
        }
        value.assign(reinterpret_cast<const char*>(m_aBytes.data() + m_nAt), length);
        m_nAt += length;
        return true;
    }
    bool digest(frame_digest& value) {
        if (!room(value.size())) {
            return false;
        }
        std::copy_n(m_aBytes.begin() + static_cast<std::ptrdiff_t>(m_nAt), value.size(), value.begin());
        m_nAt += value.size();
        return true;
    }
    [[nodiscard]] bool at_end() const { return m_nAt == m_aBytes.size(); }

private:
    [[nodiscard]] bool room(std::size_t n) const { return m_aBytes.size() - m_nAt >= n; }

    std::span<const std::uint8_t> m_aBytes;
    std::size_t m_nAt = 0;
};
} // namespace

void put_frame_header(std::uint8_t* at, frame_type type, std::size_t length) {
    at[0] = static_cast<std::uint8_t>(type);
    put_le32(at + 1, static_cast<std::uint32_t>(length));
}

void append_frame(std::vector<std::uint8_t>& out, frame_type type, std::span<const std::uint8_t> payload) {
    std::uint8_t header[frame_header_size];
    put_frame_header(header, type, payload.size());
    put_bytes(out, header, sizeof header);
    put_bytes(out, payload.data(), payload.size());
}

std::vector<std::uint8_t> encode_folder(const folder_frame& frame) {
    std::vector<std::uint8_t> out;
    put_u32(out, frame.files);
    put_u32(out, frame.directories);
    put_u64(out, frame.bytes);
    put_text(out, frame.name);
    return out;
}

std::vector<std::uint8_t> encode_directory(const std::string& path) {
    std::vector<std::uint8_t> out;
    put_text(out, path);
    return out;
}

std::vector<std::uint8_t> encode_file(const file_frame& frame) {
    std::vector<std::uint8_t> out;
    put_u64(out, frame.size);
    put_u64(out, static_cast<std::uint64_t>(frame.mtime_ns));
    out.push_back(frame.resumable ? 1 : 0);
    put_text(out, frame.path);
    return out;
}

std::vector<std::uint8_t> encode_file_end(const file_end_frame& frame) {
    std::vector<std::uint8_t> out;
    out.push_back(frame.complete ? 1 : 0);
    out.push_back(frame.whole_hash ? 1 : 0);
    if (frame.whole_hash) {
        put_bytes(out, frame.whole_hash->data(), frame.whole_hash->size());
    }
    return out;
}

std::vector<std::uint8_t> encode_resume(std::uint64_t from) {
    std::vector<std::uint8_t> out;
    put_u64(out, from);
    return out;
}

std::vector<std::uint8_t> encode_offer(const offer_frame& frame) {
    std::vector<std::uint8_t> out;
    put_u64(out, frame.kept);
    put_bytes(out, frame.hash.data(), frame.hash.size());
    return out;
}

std::optional<folder_frame> decode_folder(std::span<const std::uint8_t> payload) {
    field_reader in(payload);
    folder_frame frame;
    if (!in.u32(frame.files) || !in.u32(frame.directories) || !in.u64(frame.bytes) || !in.text(frame.name) ||
        !in.at_end()) {
        return std::nullopt;
    }
    return frame;
}

std::optional<std::string> decode_directory(std::span<const std::uint8_t> payload) {
    field_reader in(payload);
    std::string path;
    if (!in.text(path) || !in.at_end()) {
        return std::nullopt;
    }
    return path;
}

std::optional<file_frame> decode_file(std::span<const std::uint8_t> payload) {
    field_reader in(payload);
    file_frame frame;
    std::uint64_t mtime = 0;
    std::uint8_t resumable = 0;
    if (!in.u64(frame.size) || !in.u64(mtime) || !in.u8(resumable) || resumable > 1 || !in.text(frame.path) ||
        !in.at_end()) {
        return std::nullopt;
    }
    frame.mtime_ns = static_cast<std::int64_t>(mtime);
    frame.resumable = resumable == 1;
    return frame;
}

std::optional<file_end_frame> decode_file_end(std::span<const std::uint8_t> payload) {
    field_reader in(payload);
    std::uint8_t complete = 0;
    std::uint8_t hashed = 0;
    if (!in.u8(complete) || complete > 1 || !in.u8(hashed) || hashed > 1) {
        return std::nullopt;
    }
    file_end_frame frame;
    frame.complete = complete == 1;
    if (hashed == 1) {
        frame_digest hash{};
        if (!in.digest(hash)) {
            return std::nullopt;
        }
        frame.whole_hash = hash;
    }
    return in.at_end() ? std::optional(frame) : std::nullopt;
}

std::optional<std::uint64_t> decode_resume(std::span<const std::uint8_t> payload) {
    field_reader in(payload);
    std::uint64_t from = 0;
    return in.u64(from) && in.at_end() ? std::optional(from) : std::nullopt;
}

std::optional<offer_frame> decode_offer(std::span<const std::uint8_t> payload) {
    field_reader in(payload);
    offer_frame frame;
    return in.u64(frame.kept) && in.digest(frame.hash) && in.at_end() ? std::optional(frame) : std::nullopt;
}

frame_splitter::result frame_splitter::next(frame_type& type, std::span<const std::uint8_t>& payload) {
    // What was handed out last is no longer needed: drop it once it is most of the buffer, so the buffer neither
    // grows without end nor is moved for every small frame.
    if (m_nConsumed > 0 && m_nConsumed * 2 >= m_aBuffer.size()) {
        m_aBuffer.erase(m_aBuffer.begin(), m_aBuffer.begin() + static_cast<std::ptrdiff_t>(m_nConsumed));
        m_nConsumed = 0;
    }
    const std::size_t available = m_aBuffer.size() - m_nConsumed;
    if (available < frame_header_size) {
        return result::incomplete;
    }
    const std::uint8_t* header = m_aBuffer.data() + m_nConsumed;
    const std::uint8_t kind = header[0];
    const std::size_t length = get_le32(header + 1);
    const bool known =
        (kind >= static_cast<std::uint8_t>(frame_type::folder) && kind <= static_cast<std::uint8_t>(frame_type::end)) ||
        kind == static_cast<std::uint8_t>(frame_type::receipt) || kind == static_cast<std::uint8_t>(frame_type::offer);
    if (!known || length > max_frame_payload) {
        return result::malformed;
    }
    if (available - frame_header_size < length) {
        return result::incomplete;
    }
    type = static_cast<frame_type>(kind);
    payload = std::span(header + frame_header_size, length);
    m_nConsumed += frame_header_size + length;
    return result::frame;
}

} // namespace tiv
