#include "crypto/fingerprint.h"

#include "core/hex_text.h"
#include "platform/crypto_backend_random.h"

namespace tiv {

std::string key_fingerprint(std::span<const std::uint8_t> blob) {
    cryptoapi::sha256_digest digest{};
    if (blob.empty() || !cryptoapi::sha256(blob, digest)) {
        return {};
    }
    std::string hex;
    hex_encode(digest, digest.size(), 0, hex);
    std::string grouped;
    for (std::size_t i = 0; i < hex.size(); i += 4) {
        if (i > 0) {
            grouped += ' ';
        }
        grouped += hex.substr(i, 4);
    }
    return grouped;
}

} // namespace tiv
