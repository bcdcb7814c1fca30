#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/byte_buffer.h"
#include "crypto/whereabouts.h"

namespace tiv {

// The parcel stream: what crosses a connection between two programs that both announced it, inside TLS, after the
// authentication. Many files, and folders with their tree, go over one connection, and a file whose transfer broke
// can continue where it stopped. Everything is a frame, little-endian:
//   0  1  frame_type
//   1  4  length n of the payload, at most max_frame_payload
//   5  n  payload
// The sender's frames, in order: optionally one `folder` followed by exactly its `directory` frames; then for each
// file `file`, (`resume` after the receiver's `offer`, for a resumable file), `data`..., `file_end`; then `end`.
// Where both announced version 5, a pinned sender begins with one `whereabouts`: where it can be reached now.
// The receiver answers a folder and each file with one `receipt` (the parcel_receipt record), and a resumable file
// first with an `offer`.
// Where both announced version 6, a connection may carry one `check` or one `message` instead of parcels, before
// its `end`: the receiver answers a check with `checked` and a message with a `receipt` (stored: shown).
enum class frame_type : std::uint8_t {
    folder = 1,
    directory = 2,
    file = 3,
    data = 4,
    file_end = 5,
    resume = 6,
    end = 7,
    whereabouts = 8,
    check = 9,
    message = 10,
    receipt = 16,
    offer = 17,
    checked = 18,
};

inline constexpr std::size_t frame_header_size = 5;
inline constexpr std::size_t max_frame_payload = std::size_t{1} << 20;
// A path crossing the stream, whole: the receiver's own limit on a folder's relative paths is lower.
inline constexpr std::size_t max_sent_path = 4096;

// The longest message a friend may send, in bytes of UTF-8: a few paragraphs, never a file in disguise.
inline constexpr std::size_t max_message_bytes = 4096;

using frame_digest = std::array<std::uint8_t, 32>;

// The folder every following file belongs to: its name, and what it holds in all, so that the receiver can
// refuse it at once rather than after the first hundred files.
struct folder_frame {
    std::string name;
    std::uint32_t files = 0;
    std::uint32_t directories = 0;
    std::uint64_t bytes = 0;
};

// One file: its path (a bare name, or relative to the folder), its size and modification time, and whether the
// sender waits for the receiver's offer of a kept part before the data.
struct file_frame {
    std::string path;
    std::uint64_t size = 0;
    std::int64_t mtime_ns = 0;
    bool resumable = false;
};

// The end of a file's data: complete, or abandoned by the sender (the file could not be read, or the receiver
// refused it already). A file that continued a kept part carries the hash of the whole file.
struct file_end_frame {
    bool complete = false;
    std::optional<frame_digest> whole_hash;
};

// What the receiver kept of a file: 0 bytes when nothing, else their hash.
struct offer_frame {
    std::uint64_t kept = 0;
    frame_digest hash{};
};

// The header of a frame whose payload of `length` bytes the caller places right after it.
void put_frame_header(std::uint8_t* at, frame_type type, std::size_t length);
// Appends one frame to `out`, a vector of bytes.
template <typename Buffer> void append_frame(Buffer& out, frame_type type, std::span<const std::uint8_t> payload) {
    std::uint8_t header[frame_header_size];
    put_frame_header(header, type, payload.size());
    out.insert(out.end(), std::begin(header), std::end(header));
    out.insert(out.end(), payload.begin(), payload.end());
}

[[nodiscard]] std::vector<std::uint8_t> encode_folder(const folder_frame& frame);
[[nodiscard]] std::vector<std::uint8_t> encode_directory(const std::string& path);
[[nodiscard]] std::vector<std::uint8_t> encode_file(const file_frame& frame);
[[nodiscard]] std::vector<std::uint8_t> encode_file_end(const file_end_frame& frame);
[[nodiscard]] std::vector<std::uint8_t> encode_resume(std::uint64_t from);
[[nodiscard]] std::vector<std::uint8_t> encode_offer(const offer_frame& frame);
[[nodiscard]] std::vector<std::uint8_t> encode_whereabouts(const whereabouts& frame);
// At most max_message_bytes of `text` go, cut at a character's boundary: a sender refuses a longer one beforehand.
[[nodiscard]] std::vector<std::uint8_t> encode_message(const std::string& text);

// Each payload is checked whole: every length against what is there, nothing left over. None for anything a
// program of ours never sends.
[[nodiscard]] std::optional<folder_frame> decode_folder(std::span<const std::uint8_t> payload);
[[nodiscard]] std::optional<std::string> decode_directory(std::span<const std::uint8_t> payload);
[[nodiscard]] std::optional<file_frame> decode_file(std::span<const std::uint8_t> payload);
[[nodiscard]] std::optional<file_end_frame> decode_file_end(std::span<const std::uint8_t> payload);
[[nodiscard]] std::optional<std::uint64_t> decode_resume(std::span<const std::uint8_t> payload);
[[nodiscard]] std::optional<offer_frame> decode_offer(std::span<const std::uint8_t> payload);
// Also none for a port 0, or a host that is not a name or an address (control characters, spaces and the like).
[[nodiscard]] std::optional<whereabouts> decode_whereabouts(std::span<const std::uint8_t> payload);
// The text as sent, 1 to max_message_bytes bytes; what it holds is for the reader to tame.
[[nodiscard]] std::optional<std::string> decode_message(std::span<const std::uint8_t> payload);

// Splits whole frames off the front of a plaintext stream.
class frame_splitter {
public:
    enum class result { frame, incomplete, malformed };

    // Where plaintext is appended as it arrives; nothing else may change it.
    byte_buffer& input() { return m_aBuffer; }
    // The next whole frame: its type and payload, valid until the next call. `malformed` for an unknown type or
    // a length over the limit, which no later bytes can mend.
    result next(frame_type& type, std::span<const std::uint8_t>& payload);
    // Whether bytes of a frame not yet complete are waiting.
    [[nodiscard]] bool holds_partial() const { return m_nConsumed < m_aBuffer.size(); }

private:
    byte_buffer m_aBuffer;
    std::size_t m_nConsumed = 0;
};

} // namespace tiv
