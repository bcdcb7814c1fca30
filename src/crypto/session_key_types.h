#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tiv {

// One entry of the session key type table; entry i belongs to mask bit i.
struct session_key_type {
    std::uint32_t algorithm;
    std::uint16_t key_bits;
    std::uint16_t allowance;
    const char* name;
};

inline constexpr std::size_t session_key_type_count = 12;
inline constexpr std::uint32_t all_session_key_types = 0xFFF;
inline constexpr std::uint32_t aes_session_key_types = 0xE00;

extern const session_key_type session_key_types[session_key_type_count];

// Position of the single set bit; a value that is not exactly one bit answers for AES 256 (11).
[[nodiscard]] std::size_t key_type_index(std::uint32_t type_bit);
[[nodiscard]] std::uint16_t key_type_bits(std::uint32_t type_bit);
[[nodiscard]] std::uint16_t key_type_allowance(std::uint32_t type_bit);
[[nodiscard]] const char* key_type_name(std::uint32_t type_bit);
[[nodiscard]] std::uint32_t key_type_algorithm(std::uint32_t type_bit);

// The preferred type of a set: the highest set bit from 0x800 down; 0 when none is set.
[[nodiscard]] std::uint32_t choose_key_type(std::uint32_t acceptable);

// The display names of a mask's types, from bit 11 down to bit 0.
[[nodiscard]] std::vector<std::string> key_type_names(std::uint32_t mask);

} // namespace tiv
