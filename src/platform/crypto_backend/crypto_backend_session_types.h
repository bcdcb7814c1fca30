#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// The twelve session ciphers: how each CryptoAPI key type is keyed and run with OpenSSL. The order is
// the bit order of the session key type table, so entry i is the type of bit i.
namespace tiv::cryptoapi {

inline constexpr std::uint32_t calg_des = 0x6601;
inline constexpr std::uint32_t calg_rc2 = 0x6602;
inline constexpr std::uint32_t calg_3des = 0x6603;
inline constexpr std::uint32_t calg_3des_112 = 0x6609;
inline constexpr std::uint32_t calg_aes_128 = 0x660E;
inline constexpr std::uint32_t calg_aes_192 = 0x660F;
inline constexpr std::uint32_t calg_aes_256 = 0x6610;
inline constexpr std::uint32_t calg_rc4 = 0x6801;

struct session_cipher_params {
    std::uint32_t alg_id;
    // The key length CryptGenKey is asked for (parity bits of the DES family not counted).
    unsigned key_bits;
    // What a SIMPLEBLOB carries: the key bytes, DES parity bits included, never any salt.
    std::size_t key_bytes;
    // Zero bytes appended to the key before it keys the cipher: the default salt of a 40-bit key.
    std::size_t salt_bytes;
    // RC2's effective key length in bits; 0 for every other cipher.
    unsigned rc2_effective_bits;
    // 1 for RC4 (a stream cipher), else the CBC block size, which is also the largest padding.
    std::size_t block_size;
    const char* openssl_name;
    // Served by OpenSSL's legacy provider rather than the default one.
    bool needs_legacy;
};

inline constexpr std::size_t session_cipher_count = 12;

// Entry i belongs to type bit i: RC2 40, RC4 40, DES 56, RC2 56, RC4 56, 3DES 112, 3DES 168, RC2 128,
// RC4 128, AES 128, AES 192, AES 256.
[[nodiscard]] std::span<const session_cipher_params, session_cipher_count> session_cipher_table();

// The entry for an algorithm and key length as CryptGenKey receives them; null for any other pair.
[[nodiscard]] const session_cipher_params* find_session_cipher(std::uint32_t alg_id, unsigned key_bits);
// The entry for an algorithm and the number of key bytes found in a SIMPLEBLOB; null for any other pair.
[[nodiscard]] const session_cipher_params* find_session_cipher_by_key_bytes(std::uint32_t alg_id,
                                                                            std::size_t key_bytes);

// Whether OpenSSL can run this cipher here (RC2, RC4 and DES need the legacy provider). `why`, when given,
// receives the reason when it cannot.
[[nodiscard]] bool session_cipher_available(const session_cipher_params& params, std::string* why = nullptr);

} // namespace tiv::cryptoapi
