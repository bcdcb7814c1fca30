#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace tiv {

// The record sent once per connection ahead of the file data: 264 bytes, little-endian.
struct file_record {
    static constexpr std::size_t size = 264;
    static constexpr std::size_t name_field = 256;
    static constexpr std::uint16_t type = 4;

    std::uint16_t record_type = type;
    std::uint16_t record_length = static_cast<std::uint16_t>(size);
    char file_name[name_field] = "<unknown>"; // always ends with a NUL
    std::uint32_t file_size = 0;              // the low 32 bits of the size

    // Cuts the name to 255 bytes.
    void set_name(const std::string& name);
    [[nodiscard]] std::array<std::uint8_t, size> encode() const;
    // The name ends at its first NUL, at the latest after the field's last byte.
    [[nodiscard]] static file_record decode(std::span<const std::uint8_t, size> bytes);
};

} // namespace tiv
