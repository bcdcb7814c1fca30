#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/crypto_backend/crypto_backend_outcome.h"
#include "platform/crypto_backend/crypto_backend_rsa.h"
#include "platform/crypto_backend/crypto_backend_session_key.h"

// SIMPLEBLOB: a session key encrypted under an RSA key-exchange public key. BLOBHEADER (type 1, the
// session key's algorithm), the wrapping key's algorithm (CALG_RSA_KEYX), then the PKCS#1 v1.5
// ciphertext of the key bytes, least significant byte first, as long as the modulus.
namespace tiv::cryptoapi {

inline constexpr std::size_t simple_blob_header_size = 12;
// The room an authentication record gives a blob; a longer claimed length is refused before anything is read.
inline constexpr std::size_t max_simple_blob_size = 2560;

[[nodiscard]] constexpr std::size_t simple_blob_size(std::size_t modulus_bytes) {
    return simple_blob_header_size + modulus_bytes;
}

// CryptExportKey(SIMPLEBLOB): wraps `key` under the public half of `wrapping`.
outcome wrap_simple_blob(const session_key& key, const rsa_key& wrapping, std::vector<std::uint8_t>& blob);

// CryptImportKey of a SIMPLEBLOB with the private key-exchange key. The blob must be exactly as long as
// the wrapping key implies; the decrypted key must have a length that one session key type of the blob's
// algorithm uses.
outcome unwrap_simple_blob(std::span<const std::uint8_t> blob, const rsa_key& private_key, session_key& out);

} // namespace tiv::cryptoapi
