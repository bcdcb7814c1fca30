#include "app/internal/settings/reg_text.h"

#include <cstdio>

#include "core/byte_fields.h"

namespace tiv::app {

namespace {
std::string quoted(const std::string& text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            result += '\\';
        }
        result += c;
    }
    return result + '"';
}

// A text qualifies for the quoted form when it ends in its only NUL and has no line breaks.
bool is_plain_text(const std::vector<std::uint8_t>& data) {
    if (data.empty() || data.back() != 0) {
        return false;
    }
    for (std::size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] == 0 || data[i] == '\r' || data[i] == '\n') {
            return false;
        }
    }
    return true;
}

std::string hex_list(const std::vector<std::uint8_t>& data, std::size_t prefix_length) {
    std::string result;
    std::size_t column = prefix_length;
    for (std::size_t i = 0; i < data.size(); ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02x", data[i]);
        result += pair;
        column += 2;
        if (i + 1 < data.size()) {
            result += ',';
            ++column;
            if (column > 76) {
                result += "\\\n  ";
                column = 2;
            }
        }
    }
    return result;
}
} // namespace

const char* root_name(reg::root which) {
    return which == reg::root::machine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string format_reg_value(std::uint32_t type, const std::vector<std::uint8_t>& data) {
    if (type == reg::REG_SZ && is_plain_text(data)) {
        return quoted(std::string(data.begin(), data.end() - 1));
    }
    field_reader number_in(data);
    std::uint32_t number = 0;
    if (type == reg::REG_DWORD && number_in.le32(number) && number_in.at_end()) {
        char text[16];
        std::snprintf(text, sizeof text, "dword:%08x", number);
        return text;
    }
    std::string prefix = type == reg::REG_BINARY ? "hex:" : "hex(" + std::to_string(type) + "):";
    return prefix + hex_list(data, prefix.size());
}

void export_key_tree(const reg::key& k, const std::string& path, std::ostream& out) {
    out << '[' << path << "]\n";
    std::vector<reg::value_entry> values;
    if (reg::enum_values(k, values) == reg::success) {
        for (const reg::value_entry& value : values) {
            out << (value.name.empty() ? std::string("@") : quoted(value.name)) << '='
                << format_reg_value(value.type, value.data) << '\n';
        }
    }
    out << '\n';
    std::vector<std::string> subkeys;
    if (reg::enum_key_names(k, subkeys) != reg::success) {
        return;
    }
    for (const std::string& name : subkeys) {
        reg::key child;
        if (reg::open_key(k, name, child) == reg::success) {
            export_key_tree(child, path + '\\' + name, out);
        }
    }
}

} // namespace tiv::app
