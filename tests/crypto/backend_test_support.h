#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "platform/crypto_backend/crypto_backend_rsa.h"

// Shared by the crypto backend tests: hex conversion and one RSA pair per size, made once per test binary
// because key generation is the slow part.
namespace tiv::test {

inline std::vector<std::uint8_t> from_hex(std::string_view hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(std::uint8_t(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

inline std::string to_hex(std::span<const std::uint8_t> bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

inline std::vector<std::uint8_t> counting_bytes(std::size_t count) {
    std::vector<std::uint8_t> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = std::uint8_t(i);
    }
    return out;
}

// A 1024-bit pair for the test binary; `which` picks one of two distinct pairs.
inline const cryptoapi::rsa_key& shared_rsa_1024(int which = 0) {
    static const std::array<cryptoapi::rsa_key, 2> keys = [] {
        std::array<cryptoapi::rsa_key, 2> made;
        for (cryptoapi::rsa_key& key : made) {
            const cryptoapi::outcome generated = cryptoapi::rsa_key::generate(1024, key);
            EXPECT_TRUE(generated) << generated.text();
        }
        return made;
    }();
    return keys[std::size_t(which)];
}

} // namespace tiv::test
