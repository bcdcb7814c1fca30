#include <array>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "core/byte_fields.h"

namespace tiv {
namespace {

TEST(ByteFields, WritesAndReadsEachWidthInItsByteOrder) {
    std::vector<std::uint8_t> bytes;
    append_le16(bytes, 0x0102);
    append_le32(bytes, 0x03040506);
    append_le64(bytes, 0x0708090A0B0C0D0E);
    bytes.push_back(0xF1);
    bytes.push_back(0xF2);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x02, 0x01, 0x06, 0x05, 0x04, 0x03, 0x0E, 0x0D, 0x0C, 0x0B, 0x0A, 0x09,
                                                0x08, 0x07, 0xF1, 0xF2}));

    field_reader in(bytes);
    std::uint16_t le16 = 0;
    std::uint32_t le32 = 0;
    std::uint64_t le64 = 0;
    std::uint16_t be16 = 0;
    ASSERT_TRUE(in.le16(le16) && in.le32(le32) && in.le64(le64) && in.be16(be16));
    EXPECT_EQ(le16, 0x0102);
    EXPECT_EQ(le32, 0x03040506U);
    EXPECT_EQ(le64, 0x0708090A0B0C0D0EU);
    EXPECT_EQ(be16, 0xF1F2);
    EXPECT_TRUE(in.at_end());

    std::array<std::uint8_t, 8> top{};
    put_le64(top.data(), 0xFF00000000000080);
    EXPECT_EQ(get_le64(top.data()), 0xFF00000000000080U) << "no byte may sign-extend into the high half";
}

TEST(ByteFields, AShortReadTakesNothingAndFailsEveryLaterRead) {
    const std::vector<std::uint8_t> bytes{1, 2, 3, 4, 5};
    field_reader in(bytes);
    std::span<const std::uint8_t> head;
    ASSERT_TRUE(in.take(2, head));
    EXPECT_EQ(head.data(), bytes.data()) << "taken bytes stay where they lie";
    EXPECT_EQ(in.remaining(), 3U);

    std::uint32_t number = 77;
    EXPECT_FALSE(in.le32(number));
    EXPECT_EQ(number, 77U) << "a failed read leaves its target alone";
    std::uint8_t byte = 0;
    EXPECT_FALSE(in.u8(byte)) << "a byte that is there is not read after a failure";
    EXPECT_FALSE(in.skip(0));
    EXPECT_EQ(in.remaining(), 0U);
    EXPECT_FALSE(in.at_end());

    field_reader huge(bytes);
    std::array<std::uint8_t, 2> two{};
    EXPECT_FALSE(huge.skip(SIZE_MAX)) << "a length near the top of size_t must not wrap around";
    EXPECT_FALSE(huge.copy(two));

    field_reader exact(bytes);
    std::array<std::uint8_t, 5> all{};
    EXPECT_TRUE(exact.copy(all) && exact.take(0, head) && exact.at_end());
    EXPECT_EQ(all[4], 5);
}

} // namespace
} // namespace tiv
