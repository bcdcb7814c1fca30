#pragma once

#include <cstdint>

#include "core/coded_status.h"

// Results of the crypto backend. The codes are those CryptoAPI reports for the same failure, so the
// error numbers the program shows are those the Windows program showed; the text says what went wrong
// for the log and for tests.
namespace tiv::cryptoapi {

using error_code = std::uint32_t;
inline constexpr error_code success = 0;
inline constexpr error_code bad_key = 0x80090003;         // NTE_BAD_KEY: no key, or the wrong kind of key
inline constexpr error_code bad_len = 0x80090004;         // NTE_BAD_LEN
inline constexpr error_code bad_data = 0x80090005;        // NTE_BAD_DATA: malformed blob, bad padding
inline constexpr error_code bad_algid = 0x80090008;       // NTE_BAD_ALGID: unknown or unavailable algorithm
inline constexpr error_code bad_flags = 0x80090009;       // NTE_BAD_FLAGS: e.g. a key length out of range
inline constexpr error_code bad_type = 0x8009000A;        // NTE_BAD_TYPE: wrong blob type
inline constexpr error_code no_key = 0x8009000D;          // NTE_NO_KEY: the container holds no such pair
inline constexpr error_code exists = 0x8009000F;          // NTE_EXISTS: the container exists already
inline constexpr error_code permission = 0x80090010;      // NTE_PERM: a key file or directory is not private
inline constexpr error_code bad_keyset = 0x80090016;      // NTE_BAD_KEYSET: no container of that name
inline constexpr error_code bad_keyset_name = 0x8009001F; // NTE_BAD_KEYSET_PARAM: unusable container name
inline constexpr error_code failure = 0x80090020;         // NTE_FAIL: the library or the system failed

using outcome = coded_status<error_code, success>;

} // namespace tiv::cryptoapi
