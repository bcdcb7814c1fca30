#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "app/key_service.h"
#include "app/status.h"

// The user's own key pairs, as a program's front ends open, make, replace and show them.
namespace tiv::app {

class program;

// The length of the key pairs a first run makes unless told otherwise, and that a rekey offers first.
inline constexpr unsigned default_key_bits = 3072;

// Opens the key container as start-up does, never making keys; what is wrong with them comes back with the file,
// the reason and the way out (key_service.h: open_user_keys).
[[nodiscard]] status open_keys(program& p);
// What open_keys said at the last opening: ok when the keys are ready.
[[nodiscard]] status check_user_keys(program& p);
// The first run's keys, of `bits`, made only when this user never had any (key_service.h: make_first_keys).
[[nodiscard]] status make_first_keys(program& p, unsigned bits);
// When the keys opened are whole but not the ones this user last made, what that means and what to do.
[[nodiscard]] std::optional<std::string> keys_unlike_record(program& p);

// The keys opened for replacing: no_identity before set-up, keys_unavailable when the container cannot be opened.
[[nodiscard]] status open_keys_for_rekey(program& p);
// Replaces both key pairs of `bits` (key_service.h: rekey). Takes seconds to minutes: a window runs it on a worker.
[[nodiscard]] rekey_report rekey(program& p, unsigned bits);

// The user's public keys as upper-case hex, `bytes_per_line` per line (0: one line), and their bits.
[[nodiscard]] public_key_text exchange_key_text(program& p, std::size_t bytes_per_line);
[[nodiscard]] public_key_text signature_key_text(program& p, std::size_t bytes_per_line);

} // namespace tiv::app
