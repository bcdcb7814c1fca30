#include "settings/setting_value.h"

#include <cstring>

#include "core/byte_fields.h"

namespace tiv {

std::string setting_value::text() const {
    const auto* begin = reinterpret_cast<const char*>(data.data());
    return std::string(begin, ::strnlen(begin, data.size()));
}

std::optional<setting_value> read_setting_value(const reg::key& k, std::string_view name) {
    if (!k) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> buffer(max_setting_bytes + 1, 0);
    std::uint32_t type = reg::REG_NONE;
    std::uint32_t size = max_setting_bytes;
    if (reg::query_value(k, name, &type, buffer.data(), &size) != reg::success) {
        return std::nullopt;
    }
    setting_value value;
    value.type = type;
    value.size = size;
    if (type == reg::REG_DWORD) {
        field_reader in(std::span(buffer.data(), size));
        if (!in.le32(value.number) || !in.at_end()) {
            return std::nullopt;
        }
        return value;
    }
    buffer.resize(size);
    value.data = std::move(buffer);
    return value;
}

std::optional<std::string> read_text_setting(const reg::key& k, std::string_view name) {
    auto value = read_setting_value(k, name);
    if (!value || (value->type != reg::REG_SZ && value->type != reg::REG_EXPAND_SZ)) {
        return std::nullopt;
    }
    return value->text();
}

std::optional<std::uint32_t> read_dword_setting(const reg::key& k, std::string_view name) {
    auto value = read_setting_value(k, name);
    if (!value || value->type != reg::REG_DWORD) {
        return std::nullopt;
    }
    return value->number;
}

std::optional<std::vector<std::uint8_t>> read_binary_setting(const reg::key& k, std::string_view name) {
    auto value = read_setting_value(k, name);
    if (!value || value->type != reg::REG_BINARY) {
        return std::nullopt;
    }
    return std::move(value->data);
}

bool write_text_setting(const reg::key& k, std::string_view name, std::string_view text) {
    std::string stored(text);
    return reg::set_value(k, name, reg::REG_SZ, stored.c_str(), static_cast<std::uint32_t>(stored.size() + 1)) ==
           reg::success;
}

bool write_dword_setting(const reg::key& k, std::string_view name, std::uint32_t number) {
    std::uint8_t bytes[4];
    put_le32(bytes, number);
    return reg::set_value(k, name, reg::REG_DWORD, bytes, 4) == reg::success;
}

bool write_binary_setting(const reg::key& k, std::string_view name, const std::uint8_t* bytes, std::size_t size) {
    if (size > max_setting_bytes) {
        return false;
    }
    return reg::set_value(k, name, reg::REG_BINARY, bytes, static_cast<std::uint32_t>(size)) == reg::success;
}

} // namespace tiv
