#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The records that cross a connection during the key exchange. Each is encoded and decoded field by field
// (little-endian), so nothing depends on how the compiler lays out a struct.
namespace tiv::auth {

inline constexpr std::size_t cap_record_size = 152;
inline constexpr std::size_t reserved_size = 128;
inline constexpr std::size_t blob_area_size = 2560;
inline constexpr std::size_t key_block_size = 6 + blob_area_size;       // 2566
inline constexpr std::size_t pass_record_size = 4 + 2 * key_block_size; // 5136

using cap_bytes = std::array<std::uint8_t, cap_record_size>;
using pass_bytes = std::array<std::uint8_t, pass_record_size>;

// oSessionKeyCapRecord: the sender's offer going out, the receiver's single choice coming back.
struct cap_record {
    std::uint16_t pass = 0;
    std::uint16_t length = cap_record_size;
    std::uint32_t key_types = 0;
    std::array<std::uint8_t, reserved_size> reserved{};
    std::array<std::uint8_t, 16> user_uuid{}; // Windows GUID layout

    [[nodiscard]] cap_bytes encode() const;
    static cap_record decode(const cap_bytes& bytes);
};

struct key_block {
    std::uint16_t type_index = 0;
    std::uint16_t key_bits = 0;
    std::uint16_t blob_length = 0;
    std::array<std::uint8_t, blob_area_size> blob{};

    friend bool operator==(const key_block&, const key_block&) = default;
};

// ARPass1, ARPass2 and ARPass3.
struct pass_record {
    std::uint16_t pass = 0;
    std::uint16_t length = pass_record_size;
    key_block a;
    key_block b;

    [[nodiscard]] pass_bytes encode() const;
    static pass_record decode(const pass_bytes& bytes);
};

// Offsets of the fields, for tests that check the bytes on the wire.
inline constexpr std::size_t block_a_offset = 4;
inline constexpr std::size_t block_b_offset = 4 + key_block_size; // 2570

} // namespace tiv::auth
