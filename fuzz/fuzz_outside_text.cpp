// Text from peers (file names, receipt reasons) before it is stored, logged or printed. Whatever the bytes, the
// escaped and the replaced forms hold nothing a terminal would act on, text that is already tame passes both
// unchanged, and a cut never leaves half a sequence. An address (a profile's "ADDR:", a typed one) is accepted only
// when it is tame, not empty and holds no blank.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/address_text.h"
#include "core/outside_text.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const bool tame = tiv::is_tame_text(text);
    const std::string escaped = tiv::escaped_text(text);
    const std::string replaced = tiv::replaced_text(text);
    FUZZ_CHECK(tiv::is_tame_text(escaped));
    FUZZ_CHECK(tiv::is_tame_text(replaced));
    FUZZ_CHECK(tame == (escaped == text));
    FUZZ_CHECK(tame == (replaced == text));
    FUZZ_CHECK(tiv::escaped_text(escaped) == escaped);
    for (std::size_t limit : {std::size_t{0}, size / 2, size}) {
        const std::string_view cut = tiv::cut_utf8(escaped, limit);
        FUZZ_CHECK(cut.size() <= limit && tiv::is_tame_text(cut));
    }
    if (!tiv::address_fault(text)) {
        FUZZ_CHECK(tame && !text.empty() && text.find(' ') == std::string_view::npos);
    }
    return 0;
}
