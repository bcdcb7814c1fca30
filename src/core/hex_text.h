#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tiv {

// Upper-case hexadecimal, two digits per byte, CR LF after every `bytes_per_line` bytes (0: one line).
// Returns the number of characters written; 0 when the source holds fewer than `count` bytes.
std::size_t hex_encode(std::span<const std::uint8_t> source, std::size_t count, std::size_t bytes_per_line,
                       std::string& out);

// Decodes the first `count` characters pair by pair; CR or LF where a pair would begin is skipped, either case
// of 'a'-'f' decodes alike, and a last digit without a partner gives a byte with a zero low nibble.
// Returns the number of bytes written; 0 when the text is shorter than `count`.
std::size_t hex_decode(std::string_view text, std::size_t count, std::vector<std::uint8_t>& out);

} // namespace tiv
