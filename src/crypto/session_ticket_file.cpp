#include "crypto/session_ticket_file.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

#include "core/byte_fields.h"
#include "core/unique_fd.h"
#include "platform/key_container_files.h"

namespace tiv {

namespace {
constexpr std::uint8_t file_magic[5] = {'Q', 'V', 'T', 'K', 1};
// A session with the peer's certificate of a 16384-bit key stays well below this.
constexpr std::size_t max_session_size = 16 * 1024;
constexpr std::size_t header_size = sizeof file_magic + 32 + 8 + 4;
constexpr std::size_t checksum_size = 32;

void put_length_prefixed(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
    append_le32(out, static_cast<std::uint32_t>(bytes.size()));
    append_bytes(out, bytes);
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
    std::vector<std::uint8_t> out;
    out.reserve(header_size + ticket.session.size() + checksum_size);
    append_bytes(out, file_magic);
    append_bytes(out, slot);
    append_le64(out, static_cast<std::uint64_t>(ticket.expires));
    put_length_prefixed(out, ticket.session);
    cryptoapi::sha256_digest checksum{};
    (void)cryptoapi::sha256(out, checksum);
    append_bytes(out, checksum);
    return out;
}

std::optional<session_ticket> decode_ticket_file(std::span<const std::uint8_t> bytes, const ticket_slot& slot) {
    field_reader in(bytes);
    std::span<const std::uint8_t> magic;
    std::span<const std::uint8_t> written_for;
    std::uint64_t expires = 0;
    std::uint32_t length = 0;
    std::span<const std::uint8_t> session;
    std::span<const std::uint8_t> written_checksum;
    if (!in.take(sizeof file_magic, magic) || !std::ranges::equal(magic, file_magic) ||
        !in.take(slot.size(), written_for) || !std::ranges::equal(written_for, slot)) {
        return std::nullopt; // not a ticket file, or one written for another friend or key
    }
    if (!in.le64(expires) || !in.le32(length) || length == 0 || length > max_session_size ||
        !in.take(length, session) || !in.take(checksum_size, written_checksum) || !in.at_end()) {
        return std::nullopt;
    }
    cryptoapi::sha256_digest checksum{};
    if (!cryptoapi::sha256(bytes.first(header_size + length), checksum) ||
        !std::ranges::equal(checksum, written_checksum)) {
        return std::nullopt;
    }
    session_ticket ticket;
    ticket.expires = static_cast<std::int64_t>(expires);
    ticket.session.assign(session.begin(), session.end());
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
