#include "crypto/session_ticket_file.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

#include "core/unique_fd.h"
#include "platform/key_container_files.h"

namespace tiv {

namespace {
constexpr std::uint8_t file_magic[5] = {'Q', 'V', 'T', 'K', 1};
// A session with the peer's certificate of a 16384-bit key stays well below this.
constexpr std::size_t max_session_size = 16 * 1024;
constexpr std::size_t header_size = sizeof file_magic + 32 + 8 + 4;
constexpr std::size_t checksum_size = 32;

void put_le(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

std::uint64_t get_le(const std::uint8_t* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = value << 8 | in[i];
    }
    return value;
}

void put_length_prefixed(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
    put_le(out, bytes.size(), 4);
    out.insert(out.end(), bytes.begin(), bytes.end());
}
} // namespace

ticket_slot ticket_slot_for(std::string_view friend_uuid, std::span<const std::uint8_t> pinned_blob,
                            std::span<const std::uint8_t> own_blob, std::string_view suite) {
    // Each part is length-prefixed, so no two different tuples hash the same bytes.
    std::vector<std::uint8_t> parts;
    put_length_prefixed(parts,
                        std::span(reinterpret_cast<const std::uint8_t*>(friend_uuid.data()), friend_uuid.size()));
    put_length_prefixed(parts, pinned_blob);
    put_length_prefixed(parts, own_blob);
    put_length_prefixed(parts, std::span(reinterpret_cast<const std::uint8_t*>(suite.data()), suite.size()));
    ticket_slot slot{};
    (void)cryptoapi::sha256(parts, slot);
    return slot;
}

std::vector<std::uint8_t> encode_ticket_file(const ticket_slot& slot, const session_ticket& ticket) {
    // Byte by byte: GCC 12 at -O3 takes a range insert into the fresh vector for an overflow that cannot happen.
    std::vector<std::uint8_t> out;
    out.reserve(header_size + ticket.session.size() + checksum_size);
    for (const std::uint8_t byte : file_magic) {
        out.push_back(byte);
    }
    for (const std::uint8_t byte : slot) {
        out.push_back(byte);
    }
    put_le(out, static_cast<std::uint64_t>(ticket.expires), 8);
    put_length_prefixed(out, ticket.session);
    cryptoapi::sha256_digest checksum{};
    (void)cryptoapi::sha256(out, checksum);
    out.insert(out.end(), checksum.begin(), checksum.end());
    return out;
}

std::optional<session_ticket> decode_ticket_file(std::span<const std::uint8_t> bytes, const ticket_slot& slot) {
    if (bytes.size() < header_size + checksum_size ||
        !std::equal(std::begin(file_magic), std::end(file_magic), bytes.begin())) {
        return std::nullopt;
    }
    const std::uint8_t* at = bytes.data() + sizeof file_magic;
    if (!std::equal(slot.begin(), slot.end(), at)) {
        return std::nullopt; // written for another friend or key
    }
    const std::size_t length = get_le(at + 32 + 8, 4);
    if (length == 0 || length > max_session_size || bytes.size() != header_size + length + checksum_size) {
        return std::nullopt;
    }
    const auto body = bytes.first(header_size + length);
    cryptoapi::sha256_digest checksum{};
    if (!cryptoapi::sha256(body, checksum) ||
        !std::equal(checksum.begin(), checksum.end(), bytes.begin() + static_cast<std::ptrdiff_t>(body.size()))) {
        return std::nullopt;
    }
    session_ticket ticket;
    ticket.expires = static_cast<std::int64_t>(get_le(at + 32, 8));
    ticket.session.assign(body.begin() + header_size, body.end());
    return ticket;
}

std::string ticket_file_name(const ticket_slot& slot) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string name = "tls-session-";
    for (const std::uint8_t byte : slot) {
        name += digits[byte >> 4];
        name += digits[byte & 15];
    }
    return name;
}

std::optional<session_ticket> read_ticket_file(const std::string& key_directory, const ticket_slot& slot,
                                               std::int64_t now) {
    unique_fd directory;
    cryptoapi::secure_bytes bytes;
    const std::string name = ticket_file_name(slot);
    if (!cryptoapi::open_private_directory(key_directory, directory) ||
        !cryptoapi::read_private_file(directory, name, key_directory + "/" + name, bytes)) {
        return std::nullopt;
    }
    auto ticket = decode_ticket_file(std::span(bytes.data(), bytes.size()), slot);
    if (ticket && ticket->expires <= now) {
        return std::nullopt;
    }
    return ticket;
}

void write_ticket_file(const std::string& key_directory, const ticket_slot& slot, const session_ticket& ticket,
                       file_writer& files) {
    unique_fd directory;
    if (cryptoapi::open_private_directory(key_directory, directory)) {
        (void)cryptoapi::write_private_file(directory, ticket_file_name(slot), encode_ticket_file(slot, ticket), files);
    }
}

void remove_ticket_file(const std::string& key_directory, const ticket_slot& slot) {
    unique_fd directory;
    if (cryptoapi::open_private_directory(key_directory, directory)) {
        (void)::unlinkat(directory.get(), ticket_file_name(slot).c_str(), 0);
    }
}

} // namespace tiv
