// A SIMPLEBLOB as the authentication records carry it, unwrapped with the identity's private key. The first byte
// chooses the form of the rest:
//   even: the rest is the blob itself, header and ciphertext;
//   odd:  the rest is a 4-byte session algorithm and the plain key bytes, which are wrapped properly here, so
//         the fuzzer reaches the checks that follow the RSA step (key length and algorithm pairs).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "fuzz_support.h"
#include "platform/crypto_backend/crypto_backend_blob_format.h"
#include "platform/crypto_backend/crypto_backend_simple_blob.h"
#include "platform/crypto_backend/openssl_util.h"

namespace {

using namespace tiv::cryptoapi;

// A well-formed SIMPLEBLOB of any algorithm and key bytes; false when RSA cannot hold that many bytes.
bool wrap_plain(std::uint32_t session_alg, std::span<const std::uint8_t> plain, const rsa_key& wrapping,
                std::vector<std::uint8_t>& blob) {
    std::size_t size = wrapping.modulus_bytes();
    blob.clear();
    put_blob_header(blob, simpleblob, session_alg);
    tiv::append_le32(blob, calg_rsa_keyx);
    blob.resize(simple_blob_size(size));
    const pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, wrapping.get(), nullptr));
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_encrypt(ctx.get(), blob.data() + simple_blob_header_size, &size, plain.data(), plain.size()) != 1) {
        return false;
    }
    std::reverse(blob.begin() + simple_blob_header_size, blob.end());
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    tiv::fuzz::fuzz_identity& identity = tiv::fuzz::fuzz_identity::instance();
    const tiv::rsa_key_ptr own = identity.provider().exchange_key();
    const std::span<const std::uint8_t> rest(data + 1, size - 1);

    std::vector<std::uint8_t> blob(rest.begin(), rest.end());
    std::span<const std::uint8_t> plain;
    if (data[0] % 2 == 1) {
        if (rest.size() < 4) {
            return 0;
        }
        plain = rest.subspan(4);
        if (!wrap_plain(tiv::get_le32(rest.data()), plain, *own, blob)) {
            return 0;
        }
    }

    session_key key;
    const outcome unwrapped = unwrap_simple_blob(blob, *own, key);
    FUZZ_CHECK(static_cast<bool>(unwrapped) == static_cast<bool>(key));
    if (!unwrapped) {
        return 0;
    }
    FUZZ_CHECK(key.params().alg_id == tiv::get_le32(blob.data() + 4));
    FUZZ_CHECK(key.key_bytes().size() == key.params().key_bytes);
    if (data[0] % 2 == 1) {
        FUZZ_CHECK(std::equal(plain.begin(), plain.end(), key.key_bytes().begin(), key.key_bytes().end()));
    }
    // The key must work: one message through and back, as the key comparison does it.
    const std::vector<std::uint8_t> message(37, 0x5A);
    std::vector<std::uint8_t> sealed;
    tiv::byte_buffer opened;
    FUZZ_CHECK(key.encrypt(message, true, sealed));
    FUZZ_CHECK(key.decrypt(sealed, true, opened));
    FUZZ_CHECK(std::ranges::equal(opened, message));

    // The provider's own path, as the authentication takes it.
    FUZZ_CHECK(identity.provider().import_session_key(blob).ok());
    return 0;
}
