#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "app/status.h"

// The user's own key pairs, as a program's front ends open, make, replace and show them.
namespace tiv::app {

class program;

// The length of the key pairs a first run makes unless told otherwise, and that a rekey offers first.
inline constexpr unsigned default_key_bits = 3072;
inline constexpr unsigned smallest_key_bits = 1024;
inline constexpr unsigned largest_key_bits = 16384;
inline constexpr unsigned key_bits_step = 256;
// Key lengths the key management offers: 1024 to 16384 bits in steps of 256.
[[nodiscard]] bool is_offered_key_length(unsigned bits);
// The effective strength shown beside a key length.
[[nodiscard]] unsigned key_strength(unsigned bits);

// One question asked before both pairs are replaced, with OK and Cancel.
struct key_question {
    std::string caption;
    std::string text;
};
// The questions to ask, in order: always the first, then one for a length under 2048 bits or one for a length over
// 4096 bits. Cancel at any of them leaves the keys alone.
[[nodiscard]] std::vector<key_question> rekey_questions(unsigned bits);

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

struct rekey_report {
    unsigned signature_bits = 0; // the lengths actually made (the exchange pair may have fallen back)
    unsigned exchange_bits = 0;
    std::string signature_message; // the time each took, or why none was made
    std::string exchange_message;
    status outcome; // ok only when both pairs were replaced
};

// Replaces both key pairs of `bits`; the new fingerprints are recorded in the user settings. keys_unavailable in the
// outcome when the container is not open (nothing was tried) or a pair could not be made (its old pair stays in
// place); io_failure when the fingerprints could not be recorded. Takes seconds to minutes: a window runs it on a
// worker.
[[nodiscard]] rekey_report rekey(program& p, unsigned bits);

// A public key as upper-case hex of its PUBLICKEYBLOB, `bytes_per_line` per line (0: one line), and its bits.
struct public_key_text {
    unsigned bits = 0; // 0 (and no text) when there is no such key
    std::string text;
};
[[nodiscard]] public_key_text exchange_key_text(program& p, std::size_t bytes_per_line);
[[nodiscard]] public_key_text signature_key_text(program& p, std::size_t bytes_per_line);

} // namespace tiv::app
