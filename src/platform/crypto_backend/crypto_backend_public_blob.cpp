#include "platform/crypto_backend/crypto_backend_public_blob.h"

#include <openssl/core_names.h>

#include "platform/crypto_backend/crypto_backend_blob_format.h"
#include "platform/crypto_backend/openssl_util.h"
#include "platform/crypto_backend/openssl_util_providers.h"

namespace tiv::cryptoapi {

namespace {
outcome get_parameter(const rsa_key& key, const char* name, bignum_ptr& out) {
    BIGNUM* value = nullptr;
    if (EVP_PKEY_get_bn_param(key.get(), name, &value) != 1 || value == nullptr) {
        return openssl_failure(bad_key, std::string("reading the RSA parameter ") + name);
    }
    out.reset(value);
    return {};
}

struct public_key_fields {
    std::uint32_t key_alg = 0;
    std::uint32_t exponent = 0;
    std::span<const std::uint8_t> modulus; // least significant byte first
};

outcome read_public_key_blob(std::span<const std::uint8_t> blob, public_key_fields& fields) {
    field_reader in(blob);
    blob_header header;
    std::uint32_t magic = 0;
    std::uint32_t bits = 0;
    if (!read_blob_header(in, header) || !in.le32(magic) || !in.le32(bits) || !in.le32(fields.exponent)) {
        return outcome(bad_len, "PUBLICKEYBLOB of " + std::to_string(blob.size()) + " bytes is too short");
    }
    if (outcome checked = check_blob_header(header, publickeyblob, "PUBLICKEYBLOB"); !checked) {
        return checked;
    }
    fields.key_alg = header.key_alg;
    if (fields.key_alg != calg_rsa_keyx && fields.key_alg != calg_rsa_sign) {
        return outcome(bad_algid, "PUBLICKEYBLOB of an algorithm other than RSA");
    }
    if (magic != rsa1_magic) {
        return outcome(bad_data, "PUBLICKEYBLOB without the RSA1 magic");
    }
    if (bits % 8 != 0 || bits < min_rsa_bits || bits > max_rsa_bits) {
        return outcome(bad_data, "PUBLICKEYBLOB with an unusable bit length of " + std::to_string(bits));
    }
    if (!in.take(bits / 8, fields.modulus) || !in.at_end()) {
        return outcome(bad_len, "PUBLICKEYBLOB of " + std::to_string(blob.size()) + " bytes for a " +
                                    std::to_string(bits) + "-bit key");
    }
    if (fields.exponent < 3 || fields.exponent % 2 == 0) {
        return outcome(bad_data, "PUBLICKEYBLOB with the public exponent " + std::to_string(fields.exponent));
    }
    // The modulus must be odd and fill its bit length, or every ciphertext length derived from it is wrong.
    if (fields.modulus.front() % 2 == 0 || fields.modulus.back() < 0x80) {
        return outcome(bad_data, "PUBLICKEYBLOB whose modulus is even or shorter than its bit length");
    }
    return {};
}
} // namespace

outcome export_public_key_blob(const rsa_key& key, std::uint32_t key_alg, std::vector<std::uint8_t>& blob) {
    if (!key) {
        return outcome(bad_key, "no key to export");
    }
    if (key_alg != calg_rsa_keyx && key_alg != calg_rsa_sign) {
        return outcome(bad_algid, "a public key is exported as RSA key exchange or RSA signature");
    }
    bignum_ptr modulus;
    bignum_ptr exponent;
    if (outcome got = get_parameter(key, OSSL_PKEY_PARAM_RSA_N, modulus); !got) {
        return got;
    }
    if (outcome got = get_parameter(key, OSSL_PKEY_PARAM_RSA_E, exponent); !got) {
        return got;
    }
    if (BN_num_bits(exponent.get()) > 32) {
        return outcome(bad_key, "the public exponent does not fit the 32 bits of a PUBLICKEYBLOB");
    }
    const std::size_t size = key.modulus_bytes();
    std::vector<std::uint8_t> made;
    made.reserve(public_key_blob_header_size + size);
    put_blob_header(made, publickeyblob, key_alg);
    append_le32(made, rsa1_magic);
    append_le32(made, std::uint32_t(8 * size));
    append_le32(made, std::uint32_t(BN_get_word(exponent.get())));
    made.resize(public_key_blob_header_size + size);
    // CryptoAPI keeps big numbers least significant byte first, zero-padded to the modulus length.
    if (BN_bn2lebinpad(modulus.get(), made.data() + public_key_blob_header_size, int(size)) != int(size)) {
        return openssl_failure(failure, "writing the modulus");
    }
    blob = std::move(made);
    return {};
}

std::optional<std::uint32_t> claimed_key_bits(std::span<const std::uint8_t> blob) {
    field_reader in(blob);
    blob_header header;
    std::uint32_t magic = 0;
    std::uint32_t bits = 0;
    if (!read_blob_header(in, header) || !in.le32(magic) || !in.le32(bits)) {
        return std::nullopt;
    }
    return bits;
}

outcome import_public_key_blob(std::span<const std::uint8_t> blob, rsa_key& out, std::uint32_t* key_alg) {
    load_providers();
    public_key_fields fields;
    if (outcome checked = read_public_key_blob(blob, fields); !checked) {
        return checked;
    }
    const bignum_ptr modulus(BN_lebin2bn(fields.modulus.data(), int(fields.modulus.size()), nullptr));
    const param_bld_ptr builder(OSSL_PARAM_BLD_new());
    if (!modulus || !builder || OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, modulus.get()) != 1 ||
        OSSL_PARAM_BLD_push_uint32(builder.get(), OSSL_PKEY_PARAM_RSA_E, fields.exponent) != 1) {
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
        *key_alg = fields.key_alg;
    }
    out = std::move(key);
    return {};
}

} // namespace tiv::cryptoapi
