#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/crypto_backend/crypto_backend_status.h"

// The CryptoAPI blob header and the little-endian fields shared by the public key and session key blobs.
namespace tiv::cryptoapi {

inline constexpr std::uint8_t simpleblob = 1;
inline constexpr std::uint8_t publickeyblob = 6;
inline constexpr std::uint8_t cur_blob_version = 2;

inline constexpr std::uint32_t rsa1_magic = 0x31415352; // "RSA1": RSAPUBKEY of a public key

// BLOBHEADER: bType, bVersion, reserved (16 bits), aiKeyAlg.
inline constexpr std::size_t blob_header_size = 8;

inline void put_le32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(std::uint8_t(value >> (8 * i)));
    }
}

inline std::uint32_t get_le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// Appends a BLOBHEADER.
inline void put_blob_header(std::vector<std::uint8_t>& out, std::uint8_t type, std::uint32_t key_alg) {
    out.push_back(type);
    out.push_back(cur_blob_version);
    out.push_back(0);
    out.push_back(0);
    put_le32(out, key_alg);
}

// Checks a BLOBHEADER whose eight bytes the caller has made sure are there: the type, the current
// version and a zero reserved field, as CryptImportKey does.
inline status check_blob_header(const std::uint8_t* p, std::uint8_t type, const char* blob_name) {
    if (p[0] != type) {
        return status(bad_type, std::string("not a ") + blob_name + " (blob type " + std::to_string(p[0]) + ")");
    }
    if (p[1] != cur_blob_version || p[2] != 0 || p[3] != 0) {
        return status(bad_data, std::string(blob_name) + " of an unknown version or with a non-zero reserved field");
    }
    return {};
}

} // namespace tiv::cryptoapi
