#pragma once

#include <string>
#include <string_view>

namespace tiv {

// Text that came from outside (a peer's file name, a reason in its receipt) may carry what a terminal or a
// reader takes for something else: C0 and C1 controls (also C1 in its UTF-8 form), DEL, the bidirectional
// overrides and isolates (U+202A..U+202E, U+2066..U+2069), which make "a\u202etxt.exe" read as "aexe.txt", and
// bytes that are no UTF-8 at all. These three treat exactly that set.

// Whether `text` holds none of it.
[[nodiscard]] bool is_tame_text(std::string_view text);

// Each such character, and each byte of a broken sequence, as an escape ("\x1b", "\u202e"), for a log line or
// a terminal: what was sent stays readable, and nothing in it acts.
[[nodiscard]] std::string escaped_text(std::string_view text);

// Each such character, and each byte of a broken sequence, replaced by '_', for a name that is kept.
[[nodiscard]] std::string replaced_text(std::string_view text);

// `text` cut to at most `limit` bytes without splitting a UTF-8 sequence.
[[nodiscard]] std::string_view cut_utf8(std::string_view text, std::size_t limit);

} // namespace tiv
