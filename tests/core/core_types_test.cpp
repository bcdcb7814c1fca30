#include <cstring>
#include <fstream>
#include <gtest/gtest.h>

#include "core/myarray.h"
#include "core/owned_buffer.h"
#include "core/regular_file.h"
#include "core/text.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

TEST(OwnedBuffer, AssignIsGrowOnlyAndKeepsTheLargerSize) {
    owned_buffer buffer("a longer text");
    const std::int32_t first_size = buffer.size;
    EXPECT_EQ(first_size, 14);
    buffer.assign_text("short");
    EXPECT_EQ(buffer.size, first_size) << "a larger buffer is reused";
    EXPECT_STREQ(buffer.text(), "short");
    buffer.assign_text("a text that is longer than both");
    EXPECT_EQ(buffer.size, 32);
    EXPECT_STREQ(buffer.text(), "a text that is longer than both");
}

TEST(OwnedBuffer, EmptyAndNullTextsStoreOneNul) {
    owned_buffer from_null(nullptr);
    EXPECT_EQ(from_null.size, 1);
    EXPECT_STREQ(from_null.text(), "");
    owned_buffer buffer;
    buffer.Assign("xyz", 0);
    ASSERT_NE(buffer.data, nullptr);
    EXPECT_EQ(buffer.data[0], 0);
}

TEST(OwnedBuffer, AppendJoinsTextsAfterReuse) {
    owned_buffer buffer("a long first text");
    buffer.assign_text("ab");
    buffer.Append("cd", 3);
    EXPECT_STREQ(buffer.text(), "abcd");
    EXPECT_EQ(buffer.size, 5);
}

TEST(OwnedBuffer, BadStateThrowsTheFixedText) {
    owned_buffer buffer;
    buffer.size = 4; // size without data is a bad state
    try {
        buffer.Delete();
        FAIL() << "Delete of a bad state must throw";
    } catch (const char* text) {
        EXPECT_STREQ(text, "Bad state in Delete()");
    }
    buffer.size = 0;
}

TEST(OwnedBuffer, CopiesAreIndependent) {
    owned_buffer original("one");
    owned_buffer copy(original);
    copy.assign_text("two");
    EXPECT_STREQ(original.text(), "one");
    owned_buffer moved(std::move(copy));
    EXPECT_STREQ(moved.text(), "two");
    EXPECT_EQ(copy.data, nullptr);
}

TEST(TextHelpers, NameFilterKeepsOnlyAllowedCharacters) {
    std::string name = "Bob (work) Smith-Jones_2!\xe9";
    filter_profile_name(name);
    EXPECT_EQ(name, "Bob work Smith-Jones_2");
}

TEST(TextHelpers, CompactNameTrimsAndDropsSeparators) {
    EXPECT_EQ(compact_name("  Bob Smith-Jones_2 \t"), "BobSmithJones2");
    EXPECT_EQ(compact_name(""), "");
    EXPECT_EQ(compact_name(std::string(300, 'x')).size(), 127U);
}

TEST(TextHelpers, CopyTextFieldAlwaysEndsWithNul) {
    char field[8];
    std::memset(field, 'z', sizeof field);
    copy_text_field(field, "0123456789");
    EXPECT_STREQ(field, "0123456");
    copy_text_field(field, "ab");
    EXPECT_STREQ(field, "ab");
}

TEST(TextHelpers, CaseInsensitiveCompare) {
    EXPECT_TRUE(iequals("ProfileList", "PROFILELIST"));
    EXPECT_FALSE(iequals("Profile", "Profiles"));
}

TEST(RegularFile, ReadsUpToItsLimitAndRefusesWhatIsNoRegularFile) {
    test::temp_home home;
    std::string text = "kept";
    EXPECT_EQ(read_regular_file(home.path() + "/missing", 16, text), file_read::unreadable);
    EXPECT_EQ(read_regular_file(home.path(), 16, text), file_read::not_regular);
    EXPECT_EQ(read_regular_file("/dev/zero", 16, text), file_read::not_regular);
    { std::ofstream(home.path() + "/full") << "NAME: Bob\r\n"; }
    EXPECT_EQ(read_regular_file(home.path() + "/full", 10, text), file_read::too_large);
    EXPECT_EQ(text, "kept") << "left alone unless the whole file was read";
    ASSERT_EQ(read_regular_file(home.path() + "/full", 11, text), file_read::ok);
    EXPECT_EQ(text, "NAME: Bob\r\n");
}

struct tracked {
    int value = 7;
};

TEST(MyArray, ResizeKeepsContentsWhenAskedAndClearsAtZero) {
    myarray<tracked> kept(true);
    kept.resize(3);
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(kept[i].value, 7) << "plain storage constructs every element";
        kept[i].value = static_cast<int>(i);
    }
    kept.resize(5);
    EXPECT_EQ(kept[2].value, 2);
    EXPECT_EQ(kept[4].value, 7);
    kept.resize(1);
    EXPECT_EQ(kept.size(), 1U);
    EXPECT_EQ(kept[0].value, 0);
    kept.resize(0);
    EXPECT_EQ(kept.size(), 0U);

    myarray<tracked> fresh(false);
    fresh.resize(2);
    fresh[0].value = 99;
    fresh.resize(2);
    EXPECT_EQ(fresh[0].value, 7);
}

TEST(MyArray, AlignedStorageIsAlignedAndKeepsContents) {
    myarray<std::uint32_t> aligned(true, myarray<std::uint32_t>::mode::aligned);
    aligned.resize(4);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned.begin()) % 16, 0U);
    aligned[3] = 42;
    aligned.resize(9);
    EXPECT_EQ(aligned[3], 42U);
}

TEST(MyArray, ImpossibleSizeThrowsFatalException) {
    myarray<std::uint64_t> huge;
    try {
        huge.resize(std::size_t{1} << 40);
        FAIL() << "a size beyond 32 bits of bytes must fail";
    } catch (const fatal_exception& failure) {
        EXPECT_STREQ(failure.message, "Memory resize failure!");
        EXPECT_STREQ(failure.array_name, "myarray<contained_type>");
    }
    EXPECT_EQ(huge.size(), 0U);
}

} // namespace
} // namespace tiv
