#include <gtest/gtest.h>

#include "core/hex_text.h"

namespace tiv {
namespace {

TEST(HexText, EncodeBreaksLinesAfterEveryWidthBytes) {
    std::vector<std::uint8_t> blob(276);
    for (std::size_t i = 0; i < blob.size(); ++i) {
        blob[i] = static_cast<std::uint8_t>(i * 7);
    }
    std::string text;
    EXPECT_EQ(hex_encode(blob, blob.size(), 32, text), 568U);
    EXPECT_EQ(text.size(), 568U);
    EXPECT_EQ(text.substr(64, 2), "\r\n");
    EXPECT_EQ(text.substr(0, 6), "00070E");
    EXPECT_EQ(hex_encode(blob, blob.size(), 0, text), 552U) << "width 0 writes no line breaks";
    EXPECT_EQ(hex_encode(blob, blob.size() + 1, 0, text), 0U) << "a source shorter than the count";
}

TEST(HexText, DecodeSkipsLineBreaksBetweenPairsAndIgnoresCase) {
    std::vector<std::uint8_t> bytes;
    const std::string text = "0a\r\nBc\nFF";
    EXPECT_EQ(hex_decode(text, text.size(), bytes), 3U);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x0A, 0xBC, 0xFF}));
    const std::string split = "A\nB";
    EXPECT_EQ(hex_decode(split, split.size(), bytes), 2U) << "a break between the digits of a pair is not skipped";
    EXPECT_EQ(bytes[0], 0xAA) << "LF read as a digit keeps its low nibble (10 - 48) & 15";
    hex_decode("ab", 2, bytes);
    std::vector<std::uint8_t> upper;
    hex_decode("AB", 2, upper);
    EXPECT_EQ(bytes, upper);
    EXPECT_EQ(hex_decode("ABC", 3, bytes), 2U);
    EXPECT_EQ(bytes.back(), 0xC0) << "a lone last digit gives a zero low nibble";
    EXPECT_EQ(hex_decode("AB", 3, bytes), 0U);
}

TEST(HexText, RoundTripThroughLines) {
    std::vector<std::uint8_t> blob(148);
    for (std::size_t i = 0; i < blob.size(); ++i) {
        blob[i] = static_cast<std::uint8_t>(255 - i);
    }
    std::string text;
    hex_encode(blob, blob.size(), 16, text);
    std::vector<std::uint8_t> back;
    EXPECT_EQ(hex_decode(text, text.size(), back), blob.size());
    EXPECT_EQ(back, blob);
}

} // namespace
} // namespace tiv
