#include <gtest/gtest.h>

#include "crypto/session_key_types.h"

namespace tiv {
namespace {

TEST(SessionKeyTypes, LookupsAnswerForAes256WhenNotExactlyOneBit) {
    EXPECT_STREQ(key_type_name(0x200), "AES (CBC)  128 bit");
    EXPECT_STREQ(key_type_name(0), "AES (CBC)  256 bit");
    EXPECT_STREQ(key_type_name(0x300), "AES (CBC)  256 bit");
    EXPECT_STREQ(key_type_name(0x1000), "AES (CBC)  256 bit");
    EXPECT_EQ(key_type_index(0x040), 6U);
    EXPECT_EQ(key_type_bits(0x020), 112);
    EXPECT_EQ(key_type_allowance(0x040), 64);
    EXPECT_EQ(key_type_allowance(0x100), 1);
    EXPECT_EQ(key_type_algorithm(0x001), 0x6602U);
    EXPECT_EQ(key_type_algorithm(0x400), 0x660FU);
}

TEST(SessionKeyTypes, ChoiceFollowsBitOrderNotStrength) {
    EXPECT_EQ(choose_key_type(0xE40), 0x800U);
    EXPECT_EQ(choose_key_type(0x140), 0x100U) << "RC4 128 comes before 3DES 168";
    EXPECT_EQ(choose_key_type(0x001), 0x001U);
    EXPECT_EQ(choose_key_type(0), 0U);
    EXPECT_EQ(choose_key_type(0xFFFFF000), 0U) << "bits above 11 carry no type";
}

TEST(SessionKeyTypes, ListingGoesFromBitElevenDown) {
    const std::vector<std::string> expected = {"AES (CBC)  256 bit", "AES (CBC)  192 bit", "AES (CBC)  128 bit",
                                               "3DES (CBC) 168 bit"};
    EXPECT_EQ(key_type_names(0xE40), expected);
    EXPECT_TRUE(key_type_names(0).empty());
    EXPECT_EQ(key_type_names(all_session_key_types).size(), session_key_type_count);
}

} // namespace
} // namespace tiv
