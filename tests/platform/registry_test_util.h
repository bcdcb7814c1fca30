#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry/registry.h"

namespace tiv::test {

struct stored_value {
    std::uint32_t type = reg::REG_NONE;
    std::vector<std::uint8_t> data;
};

inline std::vector<std::uint8_t> bytes_of(std::string_view text) {
    return {text.begin(), text.end()};
}

// Reads a value the way callers do: size first, then exactly that many bytes.
inline std::optional<stored_value> read_value(const reg::key& k, std::string_view name) {
    stored_value value;
    std::uint32_t size = 0;
    if (reg::query_value(k, name, &value.type, nullptr, &size) != reg::success) {
        return std::nullopt;
    }
    value.data.resize(size);
    std::uint32_t type_again = reg::REG_NONE;
    if (reg::query_value(k, name, &type_again, value.data.data(), &size) != reg::success || size != value.data.size() ||
        type_again != value.type) {
        return std::nullopt;
    }
    return value;
}

inline reg::error_code write_bytes(const reg::key& k, std::string_view name, std::uint32_t type,
                                   const std::vector<std::uint8_t>& data) {
    return reg::set_value(k, name, type, data.data(), static_cast<std::uint32_t>(data.size()));
}

inline reg::key open_root_key(reg::root which) {
    reg::key k;
    EXPECT_EQ(reg::open_root(which, k), reg::success);
    return k;
}

inline reg::key create(const reg::key& parent, std::string_view path) {
    reg::key k;
    EXPECT_EQ(reg::create_key(parent, path, k), reg::success) << path;
    return k;
}

} // namespace tiv::test
