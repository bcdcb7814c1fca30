#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/crypto_backend/crypto_backend_outcome.h"
#include "platform/crypto_backend/crypto_backend_rsa.h"

// PUBLICKEYBLOB: how a public RSA key travels in profile files. BLOBHEADER (type 6), RSAPUBKEY ("RSA1",
// bit length, 32-bit public exponent), then the modulus least significant byte first.
namespace tiv::cryptoapi {

inline constexpr std::size_t public_key_blob_header_size = 20;

// 20 + bits / 8: 148 bytes for a 1024-bit key, 404 for 3072.
[[nodiscard]] constexpr std::size_t public_key_blob_size(unsigned bits) {
    return public_key_blob_header_size + bits / 8;
}

// `key_alg` is calg_rsa_keyx for the key-exchange pair and calg_rsa_sign for the signature pair, as
// CryptExportKey writes them. A key whose public exponent needs more than 32 bits cannot be expressed.
outcome export_public_key_blob(const rsa_key& key, std::uint32_t key_alg, std::vector<std::uint8_t>& blob);

// Reads exactly `blob`: its length must be the one its bit length implies, and nothing past it is read.
// Accepts either RSA algorithm identifier; `key_alg`, when given, receives the one found.
outcome import_public_key_blob(std::span<const std::uint8_t> blob, rsa_key& out, std::uint32_t* key_alg = nullptr);

// The bit length a PUBLICKEYBLOB claims, read without checking anything else: profiles keep it beside the blob and
// compare the two. None when the blob is too short to hold it.
[[nodiscard]] std::optional<std::uint32_t> claimed_key_bits(std::span<const std::uint8_t> blob);

} // namespace tiv::cryptoapi
