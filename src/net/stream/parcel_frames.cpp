#include "net/stream/parcel_frames.h"

#include <algorithm>

#include "core/address_text.h"
#include "core/byte_fields.h"
#include "core/outside_text.h"

namespace tiv {

namespace {
// Small enough that the buffer stays in the cache it was just written through.
constexpr std::size_t compact_after = std::size_t{256} << 10;

// A path or a folder's name as it goes out: never longer than a receiver takes.
std::string_view sent_path(const std::string& path) {
    return std::string_view(path).substr(0, max_sent_path);
}

bool read_text(field_reader& in, std::string& value) {
    std::uint16_t length = 0;
    std::span<const std::uint8_t> bytes;
    if (!in.le16(length) || length > max_sent_path || !in.take(length, bytes)) {
        return false;
    }
    value.assign(bytes.begin(), bytes.end());
    return true;
}
} // namespace

void put_frame_header(std::uint8_t* at, frame_type type, std::size_t length) {
    at[0] = static_cast<std::uint8_t>(type);
    put_le32(at + 1, static_cast<std::uint32_t>(length));
}

std::vector<std::uint8_t> encode_folder(const folder_frame& frame) {
    return field_writer()
        .le32(frame.files)
        .le32(frame.directories)
        .le64(frame.bytes)
        .text16(sent_path(frame.name))
        .take();
}

std::vector<std::uint8_t> encode_directory(const std::string& path) {
    return field_writer().text16(sent_path(path)).take();
}

std::vector<std::uint8_t> encode_file(const file_frame& frame) {
    return field_writer()
        .le64(frame.size)
        .le64(static_cast<std::uint64_t>(frame.mtime_ns))
        .u8(frame.resumable ? 1 : 0)
        .text16(sent_path(frame.path))
        .take();
}

std::vector<std::uint8_t> encode_file_end(const file_end_frame& frame) {
    field_writer out;
    out.u8(frame.complete ? 1 : 0).u8(frame.whole_hash ? 1 : 0);
    if (frame.whole_hash) {
        out.bytes(*frame.whole_hash);
    }
    return out.take();
}

std::vector<std::uint8_t> encode_resume(std::uint64_t from) {
    return field_writer().le64(from).take();
}

std::vector<std::uint8_t> encode_offer(const offer_frame& frame) {
    return field_writer().le64(frame.kept).bytes(frame.hash).take();
}

std::optional<folder_frame> decode_folder(std::span<const std::uint8_t> payload) {
    field_reader in(payload);
    folder_frame frame;
    if (!in.le32(frame.files) || !in.le32(frame.directories) || !in.le64(frame.bytes) || !read_text(in, frame.name) ||
        !in.at_end()) {
        return std::nullopt;
    }
    return frame;
}

std::optional<std::string> decode_directory(std::span<const std::uint8_t> payload) {
    field_reader in(payload);
    std::string path;
    if (!read_text(in, path) || !in.at_end()) {
        return std::nullopt;
    }
    return path;
}

std::optional<file_frame> decode_file(std::span<const std::uint8_t> payload) {
    field_reader in(payload);
    file_frame frame;
    std::uint64_t mtime = 0;
    std::uint8_t resumable = 0;
    if (!in.le64(frame.size) || !in.le64(mtime) || !in.u8(resumable) || resumable > 1 || !read_text(in, frame.path) ||
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
        if (!in.copy(hash)) {
            return std::nullopt;
        }
        frame.whole_hash = hash;
    }
    return in.at_end() ? std::optional(frame) : std::nullopt;
}

std::optional<std::uint64_t> decode_resume(std::span<const std::uint8_t> payload) {
    field_reader in(payload);
    std::uint64_t from = 0;
    return in.le64(from) && in.at_end() ? std::optional(from) : std::nullopt;
}

std::vector<std::uint8_t> encode_whereabouts(const whereabouts& frame) {
    return field_writer().le16(frame.port).text8(std::string_view(frame.host).substr(0, max_whereabouts_host)).take();
}

std::optional<whereabouts> decode_whereabouts(std::span<const std::uint8_t> payload) {
    field_reader in(payload);
    whereabouts frame;
    std::uint8_t length = 0;
    std::span<const std::uint8_t> host;
    if (!in.le16(frame.port) || frame.port == 0 || !in.u8(length) || length == 0 || !in.take(length, host) ||
        !in.at_end()) {
        return std::nullopt;
    }
    frame.host.assign(host.begin(), host.end());
    return address_fault(frame.host) ? std::nullopt : std::optional(frame);
}

std::vector<std::uint8_t> encode_message(const std::string& text) {
    return field_writer().text16(cut_utf8(text, max_message_bytes)).take();
}

std::optional<std::string> decode_message(std::span<const std::uint8_t> payload) {
    field_reader in(payload);
    std::uint16_t length = 0;
    std::span<const std::uint8_t> text;
    if (!in.le16(length) || length == 0 || length > max_message_bytes || !in.take(length, text) || !in.at_end()) {
        return std::nullopt;
    }
    return std::string(text.begin(), text.end());
}

std::optional<offer_frame> decode_offer(std::span<const std::uint8_t> payload) {
    field_reader in(payload);
    offer_frame frame;
    return in.le64(frame.kept) && in.copy(frame.hash) && in.at_end() ? std::optional(frame) : std::nullopt;
}

frame_splitter::result frame_splitter::next(frame_type& type, std::span<const std::uint8_t>& payload) {
    // What was handed out is no longer needed. Dropping it moves the bytes behind it, so that waits until it is
    // all of the buffer (and nothing moves) or a quarter megabyte: the buffer stays bounded, and the part of a frame
    // behind it is moved once in several frames, not once a frame.
    if (m_nConsumed == m_aBuffer.size()) {
        m_aBuffer.clear();
        m_nConsumed = 0;
    } else if (m_nConsumed >= compact_after) {
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
    const bool known = (kind >= static_cast<std::uint8_t>(frame_type::folder) &&
                        kind <= static_cast<std::uint8_t>(frame_type::message)) ||
                       (kind >= static_cast<std::uint8_t>(frame_type::receipt) &&
                        kind <= static_cast<std::uint8_t>(frame_type::checked));
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
