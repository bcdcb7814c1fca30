#include "crypto/key_management.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "crypto/crypto_provider.h"

namespace tiv {

namespace {
std::string format_seconds(const char* format, unsigned bits, double seconds) {
    char text[128];
    std::snprintf(text, sizeof text, format, bits, seconds);
    return text;
}

std::string failure_text(const char* which, unsigned bits, std::uint32_t error) {
    char text[160];
    std::snprintf(text, sizeof text, "%s of %u bits could not be made (error 0x%08X); the old pair stays in place.",
                  which, bits, static_cast<unsigned>(error));
    return text;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
    rekey_outcome outcome;
    auto start = std::chrono::steady_clock::now();
    if (provider.generate_signature_key(bits)) {
        outcome.signature_bits = provider.signature_key()->bits();
    }
    outcome.signature_seconds = seconds_since(start);
    outcome.signature_message = outcome.signature_made()
                                    ? format_seconds("Signature Key of %u bits required %.1f seconds to generate.",
                                                     outcome.signature_bits, outcome.signature_seconds)
                                    : failure_text("Signature Key", bits, provider.last_error);
    start = std::chrono::steady_clock::now();
    if (provider.generate_exchange_key(bits)) {
        outcome.exchange_bits = provider.exchange_key()->bits();
    }
    outcome.exchange_seconds = seconds_since(start);
    outcome.exchange_message = outcome.exchange_made()
                                   ? format_seconds("Key Exchange Key of %u bits required %.1f seconds to generate.",
                                                    outcome.exchange_bits, outcome.exchange_seconds)
                                   : failure_text("Key Exchange Key", bits, provider.last_error);
    provider.refresh_ready();
    return outcome;
}

} // namespace tiv
