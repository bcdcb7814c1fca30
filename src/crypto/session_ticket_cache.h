#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "crypto/session_ticket_file.h"

// The sessions a sender may resume, by slot: in memory for the life of the process, and in the user's key directory
// for the processes after it. Safe to call from any thread.
namespace tiv {

[[nodiscard]] std::optional<session_ticket> find_session_ticket(const std::string& key_directory,
                                                                const ticket_slot& slot, std::int64_t now);
// Remembers `ticket` as the one to offer next; the file follows when it has not been written recently.
void keep_session_ticket(const std::string& key_directory, const ticket_slot& slot, const session_ticket& ticket,
                         std::int64_t now);
// After a handshake that offered the session failed: the next connection starts afresh.
void forget_session_ticket(const std::string& key_directory, const ticket_slot& slot);

} // namespace tiv
