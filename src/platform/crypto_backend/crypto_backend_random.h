#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/crypto_backend/crypto_backend_status.h"

namespace tiv::cryptoapi {

// Fills `out` from OpenSSL's generator (CryptGenRandom's place).
status random_bytes(std::span<std::uint8_t> out);

using sha256_digest = std::array<std::uint8_t, 32>;
status sha256(std::span<const std::uint8_t> data, sha256_digest& out);

} // namespace tiv::cryptoapi
