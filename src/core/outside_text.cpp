#include "core/outside_text.h"

#include <cstdint>
#include <cstdio>

namespace tiv {

namespace {

// One step through UTF-8: the code point at the start of `text` and its length in bytes, or length 0 when the
// bytes there are no valid sequence (overlong forms, surrogates and values past U+10FFFF included).
struct step {
    char32_t code_point = 0;
    std::size_t length = 0;
};

step next_code_point(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) {
        return {lead, 1};
    }
    std::size_t length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
        least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
        least = 0x10000;
    } else {
        return {};
    }
    if (text.size() < length) {
        return {};
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) {
            return {};
        }
        value = value << 6 | (next & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return {};
    }
    return {value, length};
}

bool is_unsafe(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Walks `text`, handing each tame sequence to `keep` and each unsafe character or broken byte to `tame`.
template <typename Keep, typename Tame> void walk(std::string_view text, Keep keep, Tame tame) {
    while (!text.empty()) {
        const step s = next_code_point(text);
        if (s.length == 0) {
            tame(static_cast<char32_t>(static_cast<unsigned char>(text[0])), true);
            text.remove_prefix(1);
            continue;
        }
        if (is_unsafe(s.code_point)) {
            tame(s.code_point, false);
        } else {
            keep(text.substr(0, s.length));
        }
        text.remove_prefix(s.length);
    }
}

} // namespace

bool is_tame_text(std::string_view text) {
    bool tame = true;
    walk(
        text, [](std::string_view) {}, [&tame](char32_t, bool) { tame = false; });
    return tame;
}

std::string escaped_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    walk(
        text, [&out](std::string_view kept) { out += kept; },
        [&out](char32_t c, bool broken_byte) {
            char escape[16] = {};
            std::snprintf(escape, sizeof escape, broken_byte || c < 0x80 ? "\\x%02x" : "\\u%04x",
                          static_cast<unsigned>(c));
            out += escape;
        });
    return out;
}

std::string replaced_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    walk(
        text, [&out](std::string_view kept) { out += kept; }, [&out](char32_t, bool) { out += '_'; });
    return out;
}

std::string_view cut_utf8(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    std::size_t end = limit;
    // Back over continuation bytes to the lead byte of the sequence the limit cuts, and leave that out too.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

} // namespace tiv
