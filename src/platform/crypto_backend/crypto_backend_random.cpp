#include "platform/crypto_backend/crypto_backend_random.h"

#include <climits>

#include <openssl/rand.h>

#include "platform/crypto_backend/openssl_util.h"
#include "platform/crypto_backend/openssl_util_providers.h"

namespace tiv::cryptoapi {

outcome random_bytes(std::span<std::uint8_t> out) {
    load_providers();
    std::size_t done = 0;
    while (done < out.size()) {
        const std::size_t piece = std::min<std::size_t>(out.size() - done, INT_MAX);
        if (RAND_bytes(out.data() + done, int(piece)) != 1) {
            return openssl_failure(failure, "RAND_bytes");
        }
        done += piece;
    }
    return {};
}

outcome sha256(std::span<const std::uint8_t> data, sha256_digest& out) {
    load_providers();
    const md_ptr md(EVP_MD_fetch(nullptr, "SHA256", nullptr));
    if (!md) {
        return openssl_failure(bad_algid, "fetching SHA256");
    }
    unsigned int written = 0;
    if (EVP_Digest(data.data(), data.size(), out.data(), &written, md.get(), nullptr) != 1 || written != out.size()) {
        return openssl_failure(failure, "SHA256");
    }
    return {};
}

} // namespace tiv::cryptoapi
