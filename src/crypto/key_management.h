#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tiv {

class crypto_provider;

inline constexpr unsigned min_user_key_bits = 1024;
inline constexpr unsigned max_user_key_bits = 16384;
inline constexpr unsigned user_key_bits_step = 256;

[[nodiscard]] bool is_valid_user_key_length(unsigned bits);

// The effective strength shown beside a key length: floor(4.2338 * bits^0.426 + 0.5).
[[nodiscard]] unsigned estimated_strength(unsigned bits);

struct key_warning {
    std::string caption;
    std::string text;
};

// The questions asked before both key pairs are replaced, in order: always the first, then one for a length
// under 2048 bits or one for a length over 4096 bits.
[[nodiscard]] std::vector<key_warning> rekey_warnings(unsigned bits);

struct rekey_outcome {
    bool signature_made = false;
    bool exchange_made = false;
    double signature_seconds = 0;
    double exchange_seconds = 0;
    std::string signature_message; // "Signature Key of %u bits required %.1f seconds to generate."
    std::string exchange_message;  // "Key Exchange Key of %u bits required %.1f seconds to generate."
};

// Replaces the signature pair, then the exchange pair. A pair that cannot be made keeps the old one in place,
// so a failure never leaves the user without keys.
[[nodiscard]] rekey_outcome replace_user_keys(crypto_provider& provider, unsigned bits);

} // namespace tiv
