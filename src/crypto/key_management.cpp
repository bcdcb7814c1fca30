#include "crypto/key_management.h"

#include <chrono>
#include <cstdio>

#include "crypto/crypto_provider.h"

namespace tiv {

namespace {
double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct made_pair {
    unsigned bits = 0; // 0: not made, the old pair stays
    double seconds = 0;
    std::string message;
};

// `make` makes one pair and returns the length it got, or why it made none; `which` names the pair as the user
// reads it.
template <typename Make> made_pair replace_pair(const char* which, unsigned bits, Make make) {
    made_pair pair;
    const auto start = std::chrono::steady_clock::now();
    const status_or<unsigned, cryptoapi::outcome> made = make();
    pair.seconds = seconds_since(start);
    char text[160];
    if (made) {
        pair.bits = made.value();
        std::snprintf(text, sizeof text, "%s of %u bits required %.1f seconds to generate.", which, pair.bits,
                      pair.seconds);
    } else {
        std::snprintf(text, sizeof text, "%s of %u bits could not be made (error 0x%08X); the old pair stays in place.",
                      which, bits, static_cast<unsigned>(made.status().code()));
    }
    pair.message = text;
    return pair;
}
} // namespace

rekey_outcome replace_user_keys(crypto_provider& provider, unsigned bits) {
    const made_pair signature = replace_pair("Signature Key", bits, [&]() -> status_or<unsigned, cryptoapi::outcome> {
        if (cryptoapi::outcome made = provider.generate_signature_key(bits); !made) {
            return made;
        }
        return provider.signature_key()->bits();
    });
    const made_pair exchange = replace_pair("Key Exchange Key", bits, [&]() -> status_or<unsigned, cryptoapi::outcome> {
        if (cryptoapi::outcome made = provider.generate_exchange_key(bits); !made) {
            return made;
        }
        return provider.exchange_key()->bits();
    });
    provider.refresh_ready();
    return {signature.bits, exchange.bits, signature.seconds, exchange.seconds, signature.message, exchange.message};
}

} // namespace tiv
