#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tiv {

// SHA-256 of a PUBLICKEYBLOB in upper-case hex, in groups of four digits, so two people can compare a
// key over the phone before they trust it. Empty for an empty blob.
[[nodiscard]] std::string key_fingerprint(std::span<const std::uint8_t> blob);

} // namespace tiv
