#include "core/text.h"

#include <algorithm>
#include <cstring>

namespace tiv {

namespace {
bool is_ascii_alnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
bool is_white(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
char lower_ascii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
} // namespace

void filter_profile_name(std::string& name) {
    std::size_t kept = 0;
    for (char c : name) {
        if (is_ascii_alnum(c) || c == ' ' || c == '-' || c == '_') {
            name[kept++] = c;
        }
    }
    name.resize(kept);
}

std::string compact_name(std::string_view name) {
    constexpr std::size_t max_length = 127;
    while (!name.empty() && is_white(name.front())) {
        name.remove_prefix(1);
    }
    while (!name.empty() && is_white(name.back())) {
        name.remove_suffix(1);
    }
    std::string result;
    for (char c : name) {
        if (c == ' ' || c == '-' || c == '_') {
            continue;
        }
        if (result.size() == max_length) {
            break;
        }
        result.push_back(c);
    }
    return result;
}

void copy_text_field(char* field, std::size_t capacity, std::string_view text) {
    if (capacity == 0) {
        return;
    }
    const std::size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower_ascii(a[i]) != lower_ascii(b[i])) {
            return false;
        }
    }
    return true;
}

std::string to_lower_ascii(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = lower_ascii(c);
    }
    return result;
}

} // namespace tiv
