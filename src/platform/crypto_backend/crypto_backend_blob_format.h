#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/byte_fields.h"
#include "platform/crypto_backend/crypto_backend_outcome.h"

// The CryptoAPI blob header that the public key and session key blobs share.
namespace tiv::cryptoapi {

inline constexpr std::uint8_t simpleblob = 1;
inline constexpr std::uint8_t publickeyblob = 6;
inline constexpr std::uint8_t cur_blob_version = 2;

inline constexpr std::uint32_t rsa1_magic = 0x31415352; // "RSA1": RSAPUBKEY of a public key

// BLOBHEADER: bType, bVersion, reserved (16 bits), aiKeyAlg.
inline constexpr std::size_t blob_header_size = 8;

// Appends a BLOBHEADER.
inline void put_blob_header(std::vector<std::uint8_t>& out, std::uint8_t type, std::uint32_t key_alg) {
    out.push_back(type);
    out.push_back(cur_blob_version);
    append_le16(out, 0);
    append_le32(out, key_alg);
}

struct blob_header {
    std::uint8_t type = 0;
    std::uint8_t version = 0;
    std::uint16_t reserved = 0;
    std::uint32_t key_alg = 0;
};

[[nodiscard]] inline bool read_blob_header(field_reader& in, blob_header& header) {
    return in.u8(header.type) && in.u8(header.version) && in.le16(header.reserved) && in.le32(header.key_alg);
}

// The type, the current version and a zero reserved field, as CryptImportKey checks them.
inline outcome check_blob_header(const blob_header& header, std::uint8_t type, const char* blob_name) {
    if (header.type != type) {
        return outcome(bad_type,
                       std::string("not a ") + blob_name + " (blob type " + std::to_string(header.type) + ")");
    }
    if (header.version != cur_blob_version || header.reserved != 0) {
        return outcome(bad_data, std::string(blob_name) + " of an unknown version or with a non-zero reserved field");
    }
    return {};
}

} // namespace tiv::cryptoapi
