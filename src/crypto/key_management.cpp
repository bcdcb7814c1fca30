#include "crypto/key_management.h"

#include <chrono>
#include <cmath>
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

bool is_valid_user_key_length(unsigned bits) {
    return bits >= min_user_key_bits && bits <= max_user_key_bits && bits % user_key_bits_step == 0;
}

unsigned estimated_strength(unsigned bits) {
    return static_cast<unsigned>(4.2338 * std::pow(static_cast<double>(bits), 0.426) + 0.5);
}

std::vector<key_warning> rekey_warnings(unsigned bits) {
    std::vector<key_warning> warnings = {
        {"Be very sure about this.",
         "Performing this action will DESTROY your existing RSA keys! If you proceed there is NO GOING BACK!\n\nYou "
         "will need to redistribute your public key to anyone with whom you wish to exchange data!"}};
    if (bits < 2048) {
        warnings.push_back({"WHOA! Hold on there....",
                            "Your proposed key length is shorter than 2048 bits. A 2048 bit key is only about as "
                            "strong as a 112 bit AES key. Your effective cryptographic strength is only as good as "
                            "the weakest key in the link.\n\nAre you sure you want to use a key this weak?"});
    } else if (bits > 4096) {
        warnings.push_back(
            {"This could take some time!",
             "Your proposed key length is longer than 4096 bits. Generating longer keys can take significant time -- "
             "a 5k-bit key took two minutes on my computer and the cost only goes up, although it is "
             "nondeterminstic.\n\nTo learn why, read how RSA key generation searches for primes: "
             "https://en.wikipedia.org/wiki/RSA_(cryptosystem)#Key_generation\n\nAre you sure you want to proceed?"});
    }
    return warnings;
}

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
