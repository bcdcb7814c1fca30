#include "platform/crypto_backend/crypto_backend_rsa.h"

#include <climits>

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "platform/crypto_backend/openssl_util_providers.h"

namespace tiv::cryptoapi {

namespace {
constexpr unsigned long public_exponent = 65537;

// Our key files carry no passphrase; without this OpenSSL would prompt on the terminal for one.
int refuse_passphrase(char*, int, int, void*) {
    return 0;
}
} // namespace

bool is_user_key_bits(unsigned bits) {
    return bits >= 1024 && bits <= max_rsa_bits && bits % 256 == 0;
}

outcome rsa_key::generate(unsigned bits, rsa_key& out) {
    load_providers();
    if (bits < min_rsa_bits || bits > max_rsa_bits || bits % 8 != 0) {
        return outcome(bad_flags, "RSA key length " + std::to_string(bits) + " bits is not supported");
    }
    const pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    const bignum_ptr exponent(BN_new());
    if (!ctx || !exponent || BN_set_word(exponent.get(), public_exponent) != 1) {
        return openssl_failure(failure, "preparing RSA key generation");
    }
    EVP_PKEY* made = nullptr;
    if (EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), int(bits)) != 1 ||
        EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), exponent.get()) != 1 ||
        EVP_PKEY_generate(ctx.get(), &made) != 1) {
        return openssl_failure(failure, "generating a " + std::to_string(bits) + "-bit RSA key");
    }
    out = rsa_key(pkey_ptr(made));
    return {};
}

outcome rsa_key::from_private_pem(std::string_view pem, rsa_key& out) {
    load_providers();
    if (pem.size() > INT_MAX) {
        return outcome(bad_len, "private key text is too long");
    }
    const bio_ptr bio(BIO_new_mem_buf(pem.data(), int(pem.size())));
    if (!bio) {
        return openssl_failure(failure, "BIO_new_mem_buf");
    }
    pkey_ptr key(PEM_read_bio_PrivateKey_ex(bio.get(), nullptr, refuse_passphrase, nullptr, nullptr, nullptr));
    if (!key) {
        return openssl_failure(bad_data, "reading a PEM private key");
    }
    if (EVP_PKEY_is_a(key.get(), "RSA") != 1) {
        return outcome(bad_key, "the private key is not an RSA key");
    }
    rsa_key made(std::move(key));
    if (made.bits() < min_rsa_bits || made.bits() > max_rsa_bits || !made.has_private()) {
        return outcome(bad_key, "the RSA key has an unsupported length or no private part");
    }
    out = std::move(made);
    return {};
}

outcome rsa_key::to_private_pem(secure_bytes& pem) const {
    if (!m_pKey) {
        return outcome(bad_key, "no key to write");
    }
    // Secure memory so the buffer OpenSSL writes the key into is wiped when freed.
    const bio_ptr bio(BIO_new(BIO_s_secmem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), m_pKey.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        return openssl_failure(failure, "writing the private key as PKCS#8 PEM");
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    if (size <= 0 || data == nullptr) {
        return openssl_failure(failure, "reading back the PEM text");
    }
    pem = secure_bytes(reinterpret_cast<const std::uint8_t*>(data), std::size_t(size));
    return {};
}

unsigned rsa_key::bits() const {
    return m_pKey ? unsigned(EVP_PKEY_get_bits(m_pKey.get())) : 0;
}

std::size_t rsa_key::modulus_bytes() const {
    return m_pKey ? std::size_t(EVP_PKEY_get_size(m_pKey.get())) : 0;
}

bool rsa_key::has_private() const {
    if (!m_pKey) {
        return false;
    }
    BIGNUM* d = nullptr;
    const bool present = EVP_PKEY_get_bn_param(m_pKey.get(), OSSL_PKEY_PARAM_RSA_D, &d) == 1 && d != nullptr;
    const bignum_ptr owner(d);
    // A public key simply has no such parameter; that is an answer, not an error to keep.
    ERR_clear_error();
    return present;
}

bool rsa_key::same_public_key(const rsa_key& other) const {
    return m_pKey && other.m_pKey && EVP_PKEY_eq(m_pKey.get(), other.m_pKey.get()) == 1;
}

} // namespace tiv::cryptoapi
