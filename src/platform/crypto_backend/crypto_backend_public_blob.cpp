#include "platform/crypto_backend/crypto_backend_public_blob.h"

#include <openssl/core_names.h>

#include "platform/crypto_backend/crypto_backend_blob_format.h"
#include "platform/crypto_backend/openssl_util.h"
#include "platform/crypto_backend/openssl_util_providers.h"

namespace tiv::cryptoapi {

namespace {
status get_parameter(const rsa_key& key, const char* name, bignum_ptr& out) {
    BIGNUM* value = nullptr;
    if (EVP_PKEY_get_bn_param(key.get(), name, &value) != 1 || value == nullptr) {
        return openssl_failure(bad_key, std::string("reading the RSA parameter ") + name);
    }
    out.reset(value);
    return {};
}

status check_public_key_blob(std::span<const std::uint8_t> blob) {
    if (blob.size() < public_key_blob_header_size) {
        return status(bad_len, "PUBLICKEYBLOB of " + std::to_string(blob.size()) + " bytes is too short");
    }
    const std::uint8_t* p = blob.data();
    if (status header = check_blob_header(p, publickeyblob, "PUBLICKEYBLOB"); !header) {
        return header;
    }
    const std::uint32_t key_alg = get_le32(p + 4);
    if (key_alg != calg_rsa_keyx && key_alg != calg_rsa_sign) {
        return status(bad_algid, "PUBLICKEYBLOB of an algorithm other than RSA");
    }
    if (get_le32(p + 8) != rsa1_magic) {
        return status(bad_data, "PUBLICKEYBLOB without the RSA1 magic");
    }
    const std::uint32_t bits = get_le32(p + 12);
    if (bits % 8 != 0 || bits < min_rsa_bits || bits > max_rsa_bits) {
        return status(bad_data, "PUBLICKEYBLOB with an unusable bit length of " + std::to_string(bits));
    }
    if (blob.size() != public_key_blob_size(bits)) {
        return status(bad_len, "PUBLICKEYBLOB of " + std::to_string(blob.size()) + " bytes for a " +
                                   std::to_string(bits) + "-bit key");
    }
    const std::uint32_t exponent = get_le32(p + 16);
    if (exponent < 3 || exponent % 2 == 0) {
        return status(bad_data, "PUBLICKEYBLOB with the public exponent " + std::to_string(exponent));
    }
    // The modulus must be odd and fill its bit length, or every ciphertext length derived from it is wrong.
    if (p[public_key_blob_header_size] % 2 == 0 || p[blob.size() - 1] < 0x80) {
        return status(bad_data, "PUBLICKEYBLOB whose modulus is even or shorter than its bit length");
    }
    return {};
}
} // namespace

status export_public_key_blob(const rsa_key& key, std::uint32_t key_alg, std::vector<std::uint8_t>& blob) {
    if (!key) {
        return status(bad_key, "no key to export");
    }
    if (key_alg != calg_rsa_keyx && key_alg != calg_rsa_sign) {
        return status(bad_algid, "a public key is exported as RSA key exchange or RSA signature");
    }
    bignum_ptr modulus;
    bignum_ptr exponent;
    if (status got = get_parameter(key, OSSL_PKEY_PARAM_RSA_N, modulus); !got) {
        return got;
    }
    if (status got = get_parameter(key, OSSL_PKEY_PARAM_RSA_E, exponent); !got) {
        return got;
    }
    if (BN_num_bits(exponent.get()) > 32) {
        return status(bad_key, "the public exponent does not fit the 32 bits of a PUBLICKEYBLOB");
    }
    const std::size_t size = key.modulus_bytes();
    std::vector<std::uint8_t> made;
    made.reserve(public_key_blob_header_size + size);
    put_blob_header(made, publickeyblob, key_alg);
    put_le32(made, rsa1_magic);
    put_le32(made, std::uint32_t(8 * size));
    put_le32(made, std::uint32_t(BN_get_word(exponent.get())));
    made.resize(public_key_blob_header_size + size);
    // CryptoAPI keeps big numbers least significant byte first, zero-padded to the modulus length.
    if (BN_bn2lebinpad(modulus.get(), made.data() + public_key_blob_header_size, int(size)) != int(size)) {
        return openssl_failure(failure, "writing the modulus");
    }
    blob = std::move(made);
    return {};
}

status import_public_key_blob(std::span<const std::uint8_t> blob, rsa_key& out, std::uint32_t* key_alg) {
    load_providers();
    if (status checked = check_public_key_blob(blob); !checked) {
        return checked;
    }
    const std::uint8_t* p = blob.data();
    const int modulus_size = int(blob.size() - public_key_blob_header_size);
    const bignum_ptr modulus(BN_lebin2bn(p + public_key_blob_header_size, modulus_size, nullptr));
    const param_bld_ptr builder(OSSL_PARAM_BLD_new());
    if (!modulus || !builder || OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, modulus.get()) != 1 ||
        OSSL_PARAM_BLD_push_uint32(builder.get(), OSSL_PKEY_PARAM_RSA_E, get_le32(p + 16)) != 1) {
        return openssl_failure(failure, "building the RSA parameters");
    }
    const param_ptr params(OSSL_PARAM_BLD_to_param(builder.get()));
    const pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* made = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &made, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        return openssl_failure(bad_data, "making an RSA key from the PUBLICKEYBLOB");
    }
    rsa_key key{pkey_ptr(made)};
    if (key_alg != nullptr) {
        *key_alg = get_le32(p + 4);
    }
    out = std::move(key);
    return {};
}

} // namespace tiv::cryptoapi
