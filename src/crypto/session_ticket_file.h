#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_writer.h"
#include "platform/crypto_backend/crypto_backend_random.h"

// TLS sessions a sender may resume with a friend, kept on disk in the user's key directory so the next process
// resumes too. A saved session lets whoever holds it resume as this user, so it is kept like a private key: 0600,
// never through a symbolic link, replaced whole. Anything that is not exactly what was written for this slot
// (damaged, foreign, expired, open to others) reads as no session: the sender then makes a full handshake.
namespace tiv {

// Which sessions may be offered where: a friend, the key pinned for them, our own key and the suite. A key change
// on either side or another friend gives another slot, so their sessions are simply never found.
using ticket_slot = cryptoapi::sha256_digest;

[[nodiscard]] ticket_slot ticket_slot_for(std::string_view friend_uuid, std::span<const std::uint8_t> pinned_blob,
                                          std::span<const std::uint8_t> own_blob, std::string_view suite);

struct session_ticket {
    std::vector<std::uint8_t> session; // the session as OpenSSL serialises it
    std::int64_t expires = 0;          // seconds since the epoch
};

[[nodiscard]] std::vector<std::uint8_t> encode_ticket_file(const ticket_slot& slot, const session_ticket& ticket);
[[nodiscard]] std::optional<session_ticket> decode_ticket_file(std::span<const std::uint8_t> bytes,
                                                               const ticket_slot& slot);

[[nodiscard]] std::string ticket_file_name(const ticket_slot& slot);
// The session saved for `slot`, when it is intact, private, for this slot and not expired at `now`.
[[nodiscard]] std::optional<session_ticket> read_ticket_file(const std::string& key_directory, const ticket_slot& slot,
                                                             std::int64_t now);
// Best effort: a session that could not be saved only costs the next process a full handshake, and the one saved
// before stays as it was.
void write_ticket_file(const std::string& key_directory, const ticket_slot& slot, const session_ticket& ticket,
                       file_writer& files = real_file_writer());
void remove_ticket_file(const std::string& key_directory, const ticket_slot& slot);

} // namespace tiv
