#include "crypto/fingerprint.h"

#include <vector>

#include "core/hex_text.h"
#include "platform/crypto_backend/crypto_backend_random.h"

namespace tiv {

namespace {
std::string grouped_digest(std::span<const std::uint8_t> bytes) {
    cryptoapi::sha256_digest digest{};
    if (!cryptoapi::sha256(bytes, digest)) {
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

void append_with_length(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> blob) {
    const auto length = static_cast<std::uint32_t>(blob.size());
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(length >> shift));
    }
    out.insert(out.end(), blob.begin(), blob.end());
}
} // namespace

std::string key_fingerprint(std::span<const std::uint8_t> blob) {
    return blob.empty() ? std::string() : grouped_digest(blob);
}

std::string authentication_fingerprint(std::span<const std::uint8_t> exchange_blob,
                                       std::span<const std::uint8_t> signature_blob) {
    if (exchange_blob.empty()) {
        return {};
    }
    if (signature_blob.empty()) {
        return key_fingerprint(exchange_blob);
    }
    std::vector<std::uint8_t> both;
    both.reserve(exchange_blob.size() + signature_blob.size() + 8);
    append_with_length(both, exchange_blob);
    append_with_length(both, signature_blob);
    return grouped_digest(both);
}

const char* fingerprint_coverage(bool pinned) {
    return pinned ? "pinned: exchange and signature keys" : "legacy: exchange key";
}

} // namespace tiv
