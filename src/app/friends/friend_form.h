#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/friends/friend_record.h"
#include "app/questions.h"
#include "app/status.h"

namespace tiv::app {

// The pieces of a friend record that a form edits as text, so a dialog never handles key bytes itself.

// The name as a profile name may hold it (letters, digits, blank, '-' and '_'), at most 63 characters.
[[nodiscard]] std::string friend_profile_name(std::string typed);

// Sets the name and the parcel box named after it (the name without blanks, '-' and '_'), each cut to fit.
void set_friend_name(friend_record& record, const std::string& name);

// The stored address as an edit box shows it: one stored before addresses were checked may hold controls or
// bidirectional characters, which appear escaped, so saving it again is refused until it is retyped.
[[nodiscard]] std::string friend_address_text(const friend_record& record);

// The UUID as typed, cut to fit; check_friend tells whether it is one.
void set_friend_uuid(friend_record& record, const std::string& uuid);

// The stored public key as upper-case hex, 16 bytes (32 digits) per line; key data shorter than their count show
// as far as they go.
[[nodiscard]] std::string friend_key_text(const friend_record& record);

// Reads hex text as the friend's public key: the bytes, their count, and the bit length from bytes 12-15 of the
// key data (0 when the text gives fewer than 16 bytes, so a short key never reads past its end).
void set_friend_key_text(friend_record& record, const std::string& text);

// "Load File" of the key editor: the chooser, and the whole file as key text. A key file is a few hundred bytes,
// so anything larger than 64 KiB is refused rather than read into an edit box.
[[nodiscard]] file_chooser public_key_chooser();
[[nodiscard]] result<std::string> read_key_text_file(const std::string& path);

// The names of the session key types in `mask`, from bit 11 down.
[[nodiscard]] std::vector<std::string> friend_key_type_names(std::uint32_t mask);

} // namespace tiv::app
