// A PUBLICKEYBLOB as profile files and stored profiles carry it. What imports must export back to the very same
// bytes (nothing in a blob is ignored), and the key must be good for wrapping a session key.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "platform/crypto_backend/crypto_backend_public_blob.h"
#include "platform/crypto_backend/crypto_backend_session_types.h"
#include "platform/crypto_backend/crypto_backend_simple_blob.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tiv::cryptoapi;
    rsa_key key;
    std::uint32_t key_alg = 0;
    if (!import_public_key_blob({data, size}, key, &key_alg)) {
        FUZZ_CHECK(!key);
        return 0;
    }
    FUZZ_CHECK(key && !key.has_private());
    FUZZ_CHECK(key_alg == calg_rsa_keyx || key_alg == calg_rsa_sign);
    FUZZ_CHECK(key.modulus_bytes() + public_key_blob_header_size == size);

    std::vector<std::uint8_t> again;
    FUZZ_CHECK(export_public_key_blob(key, key_alg, again));
    FUZZ_CHECK(again.size() == size && std::equal(again.begin(), again.end(), data));

    // Wrapping is what a sender does with a friend's key; the largest keys are left out to keep runs quick.
    if (key.bits() <= 4096) {
        session_key session;
        FUZZ_CHECK(session_key::generate(calg_aes_256, 256, session));
        std::vector<std::uint8_t> wrapped;
        if (wrap_simple_blob(session, key, wrapped)) {
            FUZZ_CHECK(wrapped.size() == simple_blob_size(key.modulus_bytes()));
        }
    }
    return 0;
}
