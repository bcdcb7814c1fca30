#include <gtest/gtest.h>

#include "core/outside_text.h"

namespace tiv {
namespace {

TEST(OutsideText, EscapesWhatATerminalOrAReaderWouldTakeForSomethingElse) {
    EXPECT_EQ(escaped_text("plain caf\xc3\xa9 \xe2\x82\xac"), "plain caf\xc3\xa9 \xe2\x82\xac") << "valid text stays";
    EXPECT_EQ(escaped_text("\x1b]0;title\x07"), "\\x1b]0;title\\x07");
    EXPECT_EQ(escaped_text("a\tb\x7f"), "a\\x09b\\x7f");
    EXPECT_EQ(escaped_text("\xc2\x9b"
                           "31m"),
              "\\u009b31m")
        << "C1 in its UTF-8 form";
    EXPECT_EQ(escaped_text("bidi\u202etxt.exe"), "bidi\\u202etxt.exe");
    EXPECT_EQ(escaped_text("\u202a\u2066\u2069"), "\\u202a\\u2066\\u2069");
    EXPECT_EQ(escaped_text("\u202f\u2065\u206a"), "\u202f\u2065\u206a") << "the neighbours of the ranges stay";
    // Broken UTF-8: a lone byte, an overlong '/', a surrogate, a sequence cut short at the end.
    EXPECT_EQ(escaped_text("\xff"), "\\xff");
    EXPECT_EQ(escaped_text("\xc0\xaf"), "\\xc0\\xaf");
    EXPECT_EQ(escaped_text("\xed\xa0\x80"), "\\xed\\xa0\\x80");
    EXPECT_EQ(escaped_text("ok\xe2\x82"), "ok\\xe2\\x82");
    EXPECT_EQ(escaped_text(std::string_view("a\0b", 3)), "a\\x00b");

    EXPECT_TRUE(is_tame_text("report (final).txt"));
    EXPECT_FALSE(is_tame_text("x\u2067"));
    EXPECT_FALSE(is_tame_text("x\xf4\x90\x80\x80")) << "past U+10FFFF";
    EXPECT_EQ(replaced_text("a\u202eb\xff"), "a_b_");
}

TEST(OutsideText, CutNeverSplitsASequence) {
    EXPECT_EQ(cut_utf8("ab\xc3\xa9", 3), "ab");
    EXPECT_EQ(cut_utf8("ab\xc3\xa9", 4), "ab\xc3\xa9");
    EXPECT_EQ(cut_utf8("\xe2\x82\xac\xe2\x82\xac", 5), "\xe2\x82\xac");
    EXPECT_EQ(cut_utf8("abc", 2), "ab");
}

} // namespace
} // namespace tiv
