#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/crypto_backend/crypto_backend_outcome.h"
#include "platform/crypto_backend/openssl_util.h"

namespace tiv::cryptoapi {

// CryptoAPI's algorithm identifiers of the two RSA key pairs, as blobs carry them.
inline constexpr std::uint32_t calg_rsa_sign = 0x2400;
inline constexpr std::uint32_t calg_rsa_keyx = 0xA400;

// RSA moduli the backend makes or accepts. User key pairs take the narrower range of `is_user_key_bits`.
inline constexpr unsigned min_rsa_bits = 512;
inline constexpr unsigned max_rsa_bits = 16384;
// 1024 to 16384 bits in steps of 256: the lengths offered for the user's own key pairs.
[[nodiscard]] bool is_user_key_bits(unsigned bits);

// An RSA key: a public key, or a full key pair. A default object is "none". Move-only; the key itself is
// never changed after it is made, so one object may be used by several threads at once (OpenSSL makes a
// fresh operation context for every use).
class rsa_key {
public:
    rsa_key() = default;
    explicit rsa_key(pkey_ptr key) : m_pKey(std::move(key)) {}
    rsa_key(rsa_key&&) noexcept = default;
    rsa_key& operator=(rsa_key&&) noexcept = default;
    rsa_key(const rsa_key&) = delete;
    rsa_key& operator=(const rsa_key&) = delete;
    ~rsa_key() = default;

    // A new pair with e = 65537; `bits` from min_rsa_bits to max_rsa_bits, a multiple of 8.
    static outcome generate(unsigned bits, rsa_key& out);
    // Reads an unencrypted PKCS#8 PEM private key; anything but RSA is refused.
    static outcome from_private_pem(std::string_view pem, rsa_key& out);

    // The pair as unencrypted PKCS#8 PEM, in memory that is wiped when released.
    outcome to_private_pem(secure_bytes& pem) const;

    explicit operator bool() const { return m_pKey != nullptr; }
    [[nodiscard]] EVP_PKEY* get() const { return m_pKey.get(); }
    [[nodiscard]] unsigned bits() const;
    // Modulus length in bytes: the length of every RSA ciphertext under this key.
    [[nodiscard]] std::size_t modulus_bytes() const;
    [[nodiscard]] bool has_private() const;
    // Same public key (modulus and exponent).
    [[nodiscard]] bool same_public_key(const rsa_key& other) const;

private:
    pkey_ptr m_pKey;
};

} // namespace tiv::cryptoapi
