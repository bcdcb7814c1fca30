#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/crypto_backend/crypto_backend_outcome.h"

namespace tiv::cryptoapi {

// Fills `out` from OpenSSL's generator (CryptGenRandom's place).
outcome random_bytes(std::span<std::uint8_t> out);

using sha256_digest = std::array<std::uint8_t, 32>;
outcome sha256(std::span<const std::uint8_t> data, sha256_digest& out);

} // namespace tiv::cryptoapi
