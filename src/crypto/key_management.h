#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tiv {

class crypto_provider;

struct rekey_outcome {
    // The length of each pair actually made (the exchange pair may have fallen back to 3072 bits); 0 when that
    // pair could not be made and the old one stays.
    unsigned signature_bits = 0;
    unsigned exchange_bits = 0;
    double signature_seconds = 0;
    double exchange_seconds = 0;
    // "Signature Key of %u bits required %.1f seconds to generate." with the bits made, or why none was made.
    std::string signature_message;
    std::string exchange_message;

    [[nodiscard]] bool signature_made() const { return signature_bits != 0; }
    [[nodiscard]] bool exchange_made() const { return exchange_bits != 0; }
};

// Replaces the signature pair, then the exchange pair, and recomputes the provider's readiness. A pair that
// cannot be made keeps the old one in place, so a failure never leaves the user without keys.
[[nodiscard]] rekey_outcome replace_user_keys(crypto_provider& provider, unsigned bits);

} // namespace tiv
