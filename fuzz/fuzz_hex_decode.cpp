// The hex text of profile files' keys. The first two bytes choose how many characters to decode (beyond the text
// too, which must give nothing); the rest is the text. Decoding never writes more than one byte per two
// characters, and what hex_encode wrote decodes back to the bytes it came from.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/hex_text.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t count = static_cast<std::size_t>(data[0] | data[1] << 8);
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
    std::vector<std::uint8_t> out(3, 0xEE); // decoding starts from an empty result whatever was there
    const std::size_t decoded = tiv::hex_decode(text, count, out);
    FUZZ_CHECK(decoded == out.size());
    if (count > text.size()) {
        FUZZ_CHECK(decoded == 0);
    } else {
        FUZZ_CHECK(decoded <= (count + 1) / 2);
        // The whole text too, as the profile reader decodes it.
        std::vector<std::uint8_t> whole;
        (void)tiv::hex_decode(text, text.size(), whole);
    }

    const std::span<const std::uint8_t> bytes(data + 2, size - 2);
    for (std::size_t per_line : {std::size_t{0}, std::size_t{1}, std::size_t{16}}) {
        std::string hex;
        const std::size_t written = tiv::hex_encode(bytes, bytes.size(), per_line, hex);
        FUZZ_CHECK(written == hex.size());
        std::vector<std::uint8_t> back;
        (void)tiv::hex_decode(hex, hex.size(), back);
        FUZZ_CHECK(back.size() == bytes.size() && std::equal(back.begin(), back.end(), bytes.begin()));
    }
    return 0;
}
