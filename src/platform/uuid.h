#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tiv {

// A UUID as its 16 bytes in RFC 4122 (big-endian text) order.
struct uuid_value {
    std::array<std::uint8_t, 16> bytes{};
    friend bool operator==(const uuid_value&, const uuid_value&) = default;
};

enum class uuid_origin { global, local_only };

// A new random UUID.
[[nodiscard]] uuid_value make_uuid();
// 36-character lower-case 8-4-4-4-12 text.
[[nodiscard]] std::string uuid_to_text(const uuid_value& id);
// Accepts upper or lower case; nothing but the 36-character form.
[[nodiscard]] std::optional<uuid_value> uuid_from_text(std::string_view text);

// The 16-byte Windows GUID layout (first three groups little-endian) used inside wire records.
[[nodiscard]] std::array<std::uint8_t, 16> uuid_to_guid_bytes(const uuid_value& id);
[[nodiscard]] uuid_value uuid_from_guid_bytes(const std::uint8_t* guid);

} // namespace tiv
