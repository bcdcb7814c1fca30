#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tiv {

// Keeps only ASCII letters, digits, blank, '-' and '_', in order, in place.
void filter_profile_name(std::string& name);

// The compact form of a profile name: white space trimmed at both ends, every blank, '-' and '_' removed,
// at most 127 characters. Returned by value so concurrent callers never share a buffer.
[[nodiscard]] std::string compact_name(std::string_view name);

// Copies text into a fixed-width field of `capacity` bytes, cutting it so the field always ends with a NUL.
void copy_text_field(char* field, std::size_t capacity, std::string_view text);

template <std::size_t N> void copy_text_field(char (&field)[N], std::string_view text) {
    copy_text_field(field, N, text);
}

[[nodiscard]] bool iequals(std::string_view a, std::string_view b);
[[nodiscard]] std::string to_lower_ascii(std::string_view text);

} // namespace tiv
