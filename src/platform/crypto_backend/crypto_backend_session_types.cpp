#include "platform/crypto_backend/crypto_backend_session_types.h"

#include "platform/crypto_backend/openssl_util.h"
#include "platform/crypto_backend/openssl_util_providers.h"

namespace tiv::cryptoapi {

namespace {
// Salt: CryptoAPI keys a 40-bit key as its 5 bytes followed by 11 zero bytes unless told otherwise; both
// ends add them and they never travel. RC2's effective key length defaults to the key length without salt.
constexpr std::array<session_cipher_params, session_cipher_count> definitions{{
    {calg_rc2, 40, 5, 11, 40, 8, "RC2-CBC", true},
    {calg_rc4, 40, 5, 11, 0, 1, "RC4", true},
    {calg_des, 56, 8, 0, 0, 8, "DES-CBC", true},
    {calg_rc2, 56, 7, 0, 56, 8, "RC2-CBC", true},
    {calg_rc4, 56, 7, 0, 0, 1, "RC4", true},
    {calg_3des_112, 112, 16, 0, 0, 8, "DES-EDE-CBC", false},
    {calg_3des, 168, 24, 0, 0, 8, "DES-EDE3-CBC", false},
    {calg_rc2, 128, 16, 0, 128, 8, "RC2-CBC", true},
    {calg_rc4, 128, 16, 0, 0, 1, "RC4", true},
    {calg_aes_128, 128, 16, 0, 0, 16, "AES-128-CBC", false},
    {calg_aes_192, 192, 24, 0, 0, 16, "AES-192-CBC", false},
    {calg_aes_256, 256, 32, 0, 0, 16, "AES-256-CBC", false},
}};
} // namespace

std::span<const session_cipher_params, session_cipher_count> session_cipher_table() {
    return definitions;
}

const session_cipher_params* find_session_cipher(std::uint32_t alg_id, unsigned key_bits) {
    for (const session_cipher_params& params : definitions) {
        if (params.alg_id == alg_id && params.key_bits == key_bits) {
            return &params;
        }
    }
    return nullptr;
}

const session_cipher_params* find_session_cipher_by_key_bytes(std::uint32_t alg_id, std::size_t key_bytes) {
    for (const session_cipher_params& params : definitions) {
        if (params.alg_id == alg_id && params.key_bytes == key_bytes) {
            return &params;
        }
    }
    return nullptr;
}

bool session_cipher_available(const session_cipher_params& params, std::string* why) {
    load_providers();
    const cipher_ptr cipher(EVP_CIPHER_fetch(nullptr, params.openssl_name, nullptr));
    if (cipher) {
        return true;
    }
    const std::string reason = std::string("cipher ") + params.openssl_name + " is not available (" +
                               (params.needs_legacy ? "it needs OpenSSL's legacy provider; " : "") +
                               openssl_error_text() + ")";
    if (why != nullptr) {
        *why = reason;
    }
    return false;
}

} // namespace tiv::cryptoapi
