#include "crypto/session_key_types.h"

#include <bit>

namespace tiv {

const session_key_type session_key_types[session_key_type_count] = {
    {0x6602, 40, 64, "RC2 (CBC)   40 bit"},  {0x6801, 40, 1, "RC4         40 bit"},
    {0x6601, 56, 64, "DES (CBC)   56 bit"},  {0x6602, 56, 64, "RC2 (CBC)   56 bit"},
    {0x6801, 56, 1, "RC4         56 bit"},   {0x6609, 112, 64, "3DES-2Key (CBC) 112 bit"},
    {0x6603, 168, 64, "3DES (CBC) 168 bit"}, {0x6602, 128, 64, "RC2 (CBC)  128 bit"},
    {0x6801, 128, 1, "RC4        128 bit"},  {0x660E, 128, 1, "AES (CBC)  128 bit"},
    {0x660F, 192, 1, "AES (CBC)  192 bit"},  {0x6610, 256, 1, "AES (CBC)  256 bit"},
};

std::size_t key_type_index(std::uint32_t type_bit) {
    if (std::popcount(type_bit) != 1 || type_bit > (1U << (session_key_type_count - 1))) {
        return session_key_type_count - 1;
    }
    return static_cast<std::size_t>(std::countr_zero(type_bit));
}

std::uint16_t key_type_bits(std::uint32_t type_bit) {
    return session_key_types[key_type_index(type_bit)].key_bits;
}

std::uint16_t key_type_allowance(std::uint32_t type_bit) {
    return session_key_types[key_type_index(type_bit)].allowance;
}

const char* key_type_name(std::uint32_t type_bit) {
    return session_key_types[key_type_index(type_bit)].name;
}

std::uint32_t key_type_algorithm(std::uint32_t type_bit) {
    return session_key_types[key_type_index(type_bit)].algorithm;
}

std::uint32_t choose_key_type(std::uint32_t acceptable) {
    for (std::uint32_t bit = 0x800; bit != 0; bit >>= 1) {
        if ((acceptable & bit) != 0) {
            return bit;
        }
    }
    return 0;
}

std::vector<std::string> key_type_names(std::uint32_t mask) {
    std::vector<std::string> names;
    for (std::uint32_t bit = 0x800; bit != 0; bit >>= 1) {
        if ((mask & bit) != 0) {
            names.emplace_back(session_key_types[key_type_index(bit)].name);
        }
    }
    return names;
}

} // namespace tiv
