#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/status.h"
#include "crypto/crypto_provider.h"
#include "crypto/key_management.h"
#include "settings/qvl_settings_data.h"

namespace tiv::app {

// Key lengths the key management offers: 1024 to 16384 bits in steps of 256.
[[nodiscard]] bool is_offered_key_length(unsigned bits);
// The effective strength shown beside a key length.
[[nodiscard]] unsigned key_strength(unsigned bits);
// The questions to ask, in order, before both pairs are replaced (each with OK and Cancel; Cancel at any of them
// leaves the keys alone).
[[nodiscard]] std::vector<key_warning> rekey_questions(unsigned bits);

// The user's keys opened for replacing, without start-up's report (whatever is missing is about to be made):
// no_identity before set-up, keys_unavailable when the container cannot be opened.
[[nodiscard]] status open_keys_for_rekey(qvl_settings_data& settings, crypto_provider& provider);

struct rekey_report {
    unsigned signature_bits = 0; // the lengths actually made (the exchange pair may have fallen back)
    unsigned exchange_bits = 0;
    std::string signature_message; // the time each took, or why none was made
    std::string exchange_message;
    status outcome; // ok only when both pairs were replaced
};

// Replaces both key pairs of `bits`; the provider's readiness is recomputed. keys_unavailable in the outcome when
// the container is not open (nothing was tried) or a pair could not be made (its old pair stays in place).
[[nodiscard]] rekey_report rekey(crypto_provider& provider, unsigned bits);

// The machine's key type policy, written and applied to the provider at once (less the types OpenSSL does not
// offer here), so the next authentication uses it.
[[nodiscard]] status set_key_type_policy(qvl_settings_data& settings, crypto_provider& provider, std::uint32_t mask);

// A public key as upper-case hex of its PUBLICKEYBLOB, `bytes_per_line` per line (0: one line), and its bits.
struct public_key_text {
    unsigned bits = 0; // 0 (and no text) when there is no such key
    std::string text;
};
[[nodiscard]] public_key_text exchange_key_text(crypto_provider& provider, std::size_t bytes_per_line);
[[nodiscard]] public_key_text signature_key_text(crypto_provider& provider, std::size_t bytes_per_line);

} // namespace tiv::app
