#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/byte_buffer.h"
#include "platform/crypto_backend/crypto_backend_outcome.h"
#include "platform/crypto_backend/crypto_backend_session_types.h"
#include "platform/crypto_backend/openssl_util.h"

namespace tiv::cryptoapi {

// A symmetric session key with CryptEncrypt/CryptDecrypt behaviour. A default object is "none".
//
// A message is any number of calls with final = false followed by one with final = true. Its ciphertext
// is one CBC run over all its bytes with PKCS#5 padding added at the end (RC4: the keystream over all
// bytes), whatever the sizes of the pieces: pieces of any length are taken, an incomplete block is carried
// to the next call, and decryption holds back the last block until the message is completed, where the
// padding is checked and removed. Completing a message, successfully or not, restarts the cipher from its
// initial state (zero initial vector; RC4 keyed afresh), so every message starts alike.
//
// Encryption and decryption keep separate states: a message in one direction never disturbs the other.
// One object serves one thread at a time.
class session_key {
public:
    session_key() = default;
    session_key(session_key&&) noexcept = default;
    session_key& operator=(session_key&&) noexcept = default;
    session_key(const session_key&) = delete;
    session_key& operator=(const session_key&) = delete;
    ~session_key() = default;

    // CryptGenKey: a random key of the type named by algorithm and key length (see session_cipher_table).
    // An unknown pair, or a cipher OpenSSL cannot run here, gives bad_algid.
    static outcome generate(std::uint32_t alg_id, unsigned key_bits, session_key& out);
    // A key from its bytes as a SIMPLEBLOB carries them; the count selects the type (bad_data if none fits).
    static outcome from_key_bytes(std::uint32_t alg_id, std::span<const std::uint8_t> key, session_key& out);

    explicit operator bool() const { return m_pSpec != nullptr; }
    // Only for a key that is not none.
    [[nodiscard]] const session_cipher_params& params() const { return *m_pSpec; }
    [[nodiscard]] std::span<const std::uint8_t> key_bytes() const { return {m_aKey.data(), m_aKey.size()}; }
    // The ciphertext length of a complete message of `plain_bytes` bytes.
    [[nodiscard]] std::size_t encrypted_length(std::size_t plain_bytes) const;

    // Append what the call yields to `out`. A failed decryption completion (bad padding, a total that is
    // not a whole number of blocks, nothing to decrypt) gives bad_data and appends nothing.
    outcome encrypt(std::span<const std::uint8_t> data, bool final, std::vector<std::uint8_t>& out);
    outcome decrypt(std::span<const std::uint8_t> data, bool final, byte_buffer& out);

private:
    outcome make(const session_cipher_params& params, std::span<const std::uint8_t> key);
    outcome restart(EVP_CIPHER_CTX* ctx, int encrypting);
    template <typename Buffer>
    outcome run(EVP_CIPHER_CTX* ctx, int encrypting, std::span<const std::uint8_t> data, bool final, Buffer& out);

    const session_cipher_params* m_pSpec = nullptr;
    secure_bytes m_aKey;
    cipher_ptr m_pCipher;
    cipher_ctx_ptr m_pEncrypt;
    cipher_ctx_ptr m_pDecrypt;
};

} // namespace tiv::cryptoapi
