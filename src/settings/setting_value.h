#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"

namespace tiv {

// One value read from the registry. Every caller gets a result of its own, so threads never share it.
struct setting_value {
    std::uint32_t type = reg::REG_NONE;
    std::uint32_t size = 0;         // the stored byte count
    std::uint32_t number = 0;       // REG_DWORD only
    std::vector<std::uint8_t> data; // the stored bytes of texts and binaries

    // The text up to its first NUL; a text stored without its NUL still reads whole.
    [[nodiscard]] std::string text() const;
};

// Largest value the program accepts: one byte less than its 8192-byte read buffer, so a text stored
// without its NUL still ends in one.
inline constexpr std::uint32_t max_setting_bytes = 8191;

// Reads any value; none when the key is none, the value is missing or larger than max_setting_bytes.
[[nodiscard]] std::optional<setting_value> read_setting_value(const reg::key& k, std::string_view name);

// Typed reads: a value stored under another type than the one asked for counts as missing.
[[nodiscard]] std::optional<std::string> read_text_setting(const reg::key& k, std::string_view name);
[[nodiscard]] std::optional<std::uint32_t> read_dword_setting(const reg::key& k, std::string_view name);
[[nodiscard]] std::optional<std::vector<std::uint8_t>> read_binary_setting(const reg::key& k, std::string_view name);

// Writers store texts with their NUL counted and numbers as 4 bytes. A key that is none makes them fail.
bool write_text_setting(const reg::key& k, std::string_view name, std::string_view text);
bool write_dword_setting(const reg::key& k, std::string_view name, std::uint32_t number);
bool write_binary_setting(const reg::key& k, std::string_view name, const std::uint8_t* bytes, std::size_t size);

} // namespace tiv
