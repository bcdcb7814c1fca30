#include "core/hex_text.h"

namespace tiv {

namespace {
// Characters above '9' count from 'A' (code minus 55), all others from '0'; only the low nibble is kept,
// so both cases of the letters decode alike.
std::uint8_t nibble(char c) {
    const int code = static_cast<signed char>(c);
    return static_cast<std::uint8_t>((code > '9' ? code - 55 : code - 48) & 0x0F);
}
} // namespace

std::size_t hex_encode(std::span<const std::uint8_t> source, std::size_t count, std::size_t bytes_per_line,
                       std::string& out) {
    static constexpr char digits[] = "0123456789ABCDEF";
    out.clear();
    if (source.size() < count) {
        return 0;
    }
    out.reserve(2 * count + (bytes_per_line != 0 ? 2 * (count / bytes_per_line) : 0));
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0 && bytes_per_line != 0 && i % bytes_per_line == 0) {
            out += "\r\n";
        }
        out += digits[source[i] >> 4];
        out += digits[source[i] & 0x0F];
    }
    return out.size();
}

std::size_t hex_decode(std::string_view text, std::size_t count, std::vector<std::uint8_t>& out) {
    out.clear();
    if (text.size() < count) {
        return 0;
    }
    out.reserve((count + 1) / 2);
    std::size_t i = 0;
    while (i < count) {
        const char first = text[i];
        if (first == '\r' || first == '\n') {
            ++i;
            continue;
        }
        const std::uint8_t high = nibble(first);
        const std::uint8_t low = i + 1 < count ? nibble(text[i + 1]) : 0;
        out.push_back(static_cast<std::uint8_t>(high << 4 | low));
        i += 2;
    }
    return out.size();
}

} // namespace tiv
