#include "platform/crypto_backend/crypto_backend_simple_blob.h"

#include <algorithm>

#include <openssl/rsa.h>

#include "platform/crypto_backend/crypto_backend_blob_format.h"
#include "platform/crypto_backend/openssl_util.h"
#include "platform/crypto_backend/openssl_util_providers.h"

namespace tiv::cryptoapi {

namespace {
struct simple_blob_fields {
    std::uint32_t session_alg = 0;
    std::span<const std::uint8_t> cipher; // least significant byte first
};

outcome read_simple_blob(std::span<const std::uint8_t> blob, const rsa_key& private_key, simple_blob_fields& fields) {
    if (blob.size() > max_simple_blob_size) {
        return outcome(bad_len, "SIMPLEBLOB of " + std::to_string(blob.size()) + " bytes exceeds " +
                                    std::to_string(max_simple_blob_size));
    }
    field_reader in(blob);
    blob_header header;
    std::uint32_t wrapping_alg = 0;
    if (!read_blob_header(in, header) || !in.le32(wrapping_alg)) {
        return outcome(bad_len, "SIMPLEBLOB of " + std::to_string(blob.size()) + " bytes is too short");
    }
    if (outcome checked = check_blob_header(header, simpleblob, "SIMPLEBLOB"); !checked) {
        return checked;
    }
    fields.session_alg = header.key_alg;
    const auto definitions = session_cipher_table();
    if (std::none_of(definitions.begin(), definitions.end(),
                     [&fields](const session_cipher_params& params) { return params.alg_id == fields.session_alg; })) {
        return outcome(bad_algid,
                       "SIMPLEBLOB of an unknown session key algorithm " + std::to_string(fields.session_alg));
    }
    if (wrapping_alg != calg_rsa_keyx) {
        return outcome(bad_algid, "SIMPLEBLOB wrapped under something other than an RSA key-exchange key");
    }
    if (!private_key || !private_key.has_private()) {
        return outcome(bad_key, "no private key to unwrap the SIMPLEBLOB with");
    }
    if (!in.take(private_key.modulus_bytes(), fields.cipher) || !in.at_end()) {
        return outcome(bad_len, "SIMPLEBLOB of " + std::to_string(blob.size()) + " bytes for a " +
                                    std::to_string(private_key.bits()) + "-bit key");
    }
    return {};
}
} // namespace

outcome wrap_simple_blob(const session_key& key, const rsa_key& wrapping, std::vector<std::uint8_t>& blob) {
    load_providers();
    if (!key) {
        return outcome(bad_key, "no session key to export");
    }
    if (!wrapping) {
        return outcome(bad_key, "no public key to wrap the session key under");
    }
    std::size_t size = wrapping.modulus_bytes();
    std::vector<std::uint8_t> made;
    made.reserve(simple_blob_size(size));
    put_blob_header(made, simpleblob, key.params().alg_id);
    append_le32(made, calg_rsa_keyx);
    made.resize(simple_blob_size(size));
    const std::span<const std::uint8_t> plain = key.key_bytes();
    const pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, wrapping.get(), nullptr));
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_encrypt(ctx.get(), made.data() + simple_blob_header_size, &size, plain.data(), plain.size()) != 1) {
        return openssl_failure(failure, "encrypting the session key under RSA");
    }
    // OpenSSL writes exactly the modulus length, leading zeros included; CryptoAPI wants it reversed.
    if (size != wrapping.modulus_bytes()) {
        return outcome(failure, "RSA encryption gave " + std::to_string(size) + " bytes");
    }
    std::reverse(made.begin() + simple_blob_header_size, made.end());
    blob = std::move(made);
    return {};
}

outcome unwrap_simple_blob(std::span<const std::uint8_t> blob, const rsa_key& private_key, session_key& out) {
    load_providers();
    simple_blob_fields fields;
    if (outcome checked = read_simple_blob(blob, private_key, fields); !checked) {
        return checked;
    }
    const std::size_t size = private_key.modulus_bytes();
    std::vector<std::uint8_t> cipher(fields.cipher.begin(), fields.cipher.end());
    std::reverse(cipher.begin(), cipher.end());
    secure_bytes plain(size);
    std::size_t plain_size = plain.size();
    const pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, private_key.get(), nullptr));
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1) {
        return openssl_failure(failure, "preparing RSA decryption");
    }
    if (EVP_PKEY_decrypt(ctx.get(), plain.data(), &plain_size, cipher.data(), cipher.size()) != 1) {
        return openssl_failure(bad_data, "decrypting the SIMPLEBLOB (wrong key or damaged blob)");
    }
    // Newer OpenSSL answers bad padding with a random key instead of an error; its length is then most
    // likely none of the lengths a session key can have, and a wrong key fails the key comparison anyway.
    plain.truncate(plain_size);
    return session_key::from_key_bytes(fields.session_alg, {plain.data(), plain.size()}, out);
}

} // namespace tiv::cryptoapi
