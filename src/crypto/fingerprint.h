#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tiv {

// SHA-256 of a PUBLICKEYBLOB in upper-case hex, in groups of four digits, so two people can compare a
// key over the phone before they trust it. Empty for an empty blob.
[[nodiscard]] std::string key_fingerprint(std::span<const std::uint8_t> blob);

// The fingerprint of every key a friend is authenticated with, which is what two people must compare: a pinned
// friend is authenticated by the signature key, so a fingerprint of the exchange key alone would look right on a
// forged profile that carries the real exchange key beside someone else's signature key. Without a signature key
// it is key_fingerprint of the exchange key; with one it is SHA-256 over both blobs, each preceded by its length
// (32-bit little-endian) so no two pairs of blobs hash the same bytes. Empty without an exchange key.
[[nodiscard]] std::string authentication_fingerprint(std::span<const std::uint8_t> exchange_blob,
                                                     std::span<const std::uint8_t> signature_blob);

// Which keys authentication_fingerprint covered, in the words both sides print beside it.
[[nodiscard]] const char* fingerprint_coverage(bool pinned);

} // namespace tiv
