#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "net/box/kept_part.h"
#include "net/box/kept_part_sweep.h"
#include "net/box/parcel_names.h"
#include "platform/sha256_stream.h"
#include "support/temp_home.h"
#include "support/test_clock.h"

namespace tiv {
namespace {

using KeptPart = test::home_test;

std::vector<std::uint8_t> bytes_of(std::string_view text) {
    return {text.begin(), text.end()};
}

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string key_of(std::string_view relative_path) {
    return kept_part_key(relative_path, 1000, 1'700'000'000'000'000'000);
}

TEST(KeptPartKey, NamesTheSameFileAlikeAndAnyDifferenceApart) {
    const std::string key = key_of("photos/a.jpg");
    EXPECT_TRUE(is_kept_part_name(kept_part_name(key))) << key;
    EXPECT_EQ(key_of("photos/a.jpg"), key);
    EXPECT_NE(key_of("photos/b.jpg"), key);
    EXPECT_NE(kept_part_key("photos/a.jpg", 1001, 1'700'000'000'000'000'000), key);
    EXPECT_NE(kept_part_key("photos/a.jpg", 1000, 1'700'000'000'000'000'001), key);
}

TEST(Sha256Stream, PiecesGiveTheDigestOfTheWhole) {
    std::vector<std::uint8_t> data(300'000);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
    }
    cryptoapi::sha256_digest whole{};
    ASSERT_TRUE(cryptoapi::sha256(data, whole));
    cryptoapi::sha256_stream stream;
    const std::span<const std::uint8_t> all(data);
    stream.update(all.first(1));
    stream.update(all.subspan(1, 0));
    stream.update(all.subspan(1, 65'536));
    stream.update(all.subspan(65'537));
    EXPECT_EQ(stream.finish(), whole);
    EXPECT_TRUE(stream.ok()) << stream.failure();
    (void)stream.finish();
    EXPECT_FALSE(stream.ok()) << "a spent stream has no second digest";
}

TEST_F(KeptPart, IsHeldByOneTransferKeptAcrossTransfersAndHashedAsWritten) {
    const std::string box = m_oHome.path() + "/Alice";
    std::filesystem::create_directories(box);
    const unique_fd directory(::open(box.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(directory);
    const std::string key = key_of("big.iso");
    std::string why;
    {
        std::optional<kept_part> first = kept_part::open(directory.get(), box + "/", key, why);
        ASSERT_TRUE(first.has_value()) << why;
        EXPECT_EQ(first->path(), box + "/" + kept_part_name(key));
        EXPECT_EQ(std::filesystem::status(first->path()).permissions(), std::filesystem::perms(0600));
        for (const std::string_view piece : {"kept ", "bytes"}) {
            const unique_fd out = first->writer(real_file_writer());
            ASSERT_TRUE(out);
            ASSERT_EQ(::write(out.get(), piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
        }
        EXPECT_EQ(first->length(), 10U);
        cryptoapi::sha256_stream hasher;
        ASSERT_TRUE(first->hash_into(hasher));
        cryptoapi::sha256_digest expected{};
        ASSERT_TRUE(cryptoapi::sha256(bytes_of("kept bytes"), expected));
        EXPECT_EQ(hasher.finish(), expected);

        EXPECT_FALSE(kept_part::open(directory.get(), box, key, why).has_value());
        EXPECT_EQ(why, "another transfer holds " + first->path());
    }
    std::optional<kept_part> again = kept_part::open(directory.get(), box, key, why);
    ASSERT_TRUE(again.has_value()) << why;
    EXPECT_EQ(again->length(), 10U);
    EXPECT_TRUE(again->discard());
    EXPECT_EQ(again->length(), 0U);
    EXPECT_TRUE(again->remove());
    EXPECT_FALSE(std::filesystem::exists(again->path()));
}

TEST_F(KeptPart, ALinkUnderTheKeptNameIsRefusedAndItsTargetLeftAlone) {
    const std::string box = m_oHome.path() + "/Alice";
    const std::string target = m_oHome.path() + "/precious";
    std::filesystem::create_directories(box);
    write_text(target, "precious");
    const unique_fd directory(::open(box.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(directory);
    const std::string symbolic = key_of("a");
    const std::string hard = key_of("b");
    std::filesystem::create_symlink(target, box + "/" + kept_part_name(symbolic));
    std::filesystem::create_hard_link(target, box + "/" + kept_part_name(hard));
    std::string why;
    EXPECT_FALSE(kept_part::open(directory.get(), box, symbolic, why).has_value());
    EXPECT_NE(why.find("symbolic link"), std::string::npos) << why;
    EXPECT_FALSE(kept_part::open(directory.get(), box, hard, why).has_value());
    EXPECT_NE(why.find("another name"), std::string::npos) << why;
    EXPECT_FALSE(kept_part::open(directory.get(), box, "../../precious", why).has_value()) << "not a key";
    EXPECT_EQ(std::filesystem::file_size(target), 8U);
}

TEST_F(KeptPart, SweepRemovesOnlyExpiredUnheldPartsOfTheExactShapeAtAnyFolderDepth) {
    const std::string root = m_oHome.path() + "/boxes";
    const std::string box = root + "/Alice";
    const std::string deep = box + "/photos/2026";
    const std::string elsewhere = m_oHome.path() + "/elsewhere";
    for (const std::string& directory : {deep, elsewhere}) {
        std::filesystem::create_directories(directory);
    }
    std::filesystem::create_directory_symlink(elsewhere, box + "/Linked");
    const std::string in_root = root + "/" + kept_part_name(key_of("1"));
    const std::string in_deep = deep + "/" + kept_part_name(key_of("2"));
    const std::string behind_link = elsewhere + "/" + kept_part_name(key_of("4"));
    const std::string upper_case = box + "/." + std::string(32, 'A') + ".quorvel-keep";
    const std::string undotted = box + "/" + std::string(32, 'a') + ".quorvel-keep";
    for (const std::string& path : {in_root, in_deep, behind_link, upper_case, undotted}) {
        write_text(path, "part");
    }
    std::filesystem::create_directory(box + "/" + kept_part_name(key_of("5")));
    const unique_fd directory(::open(box.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::string why;
    std::optional<kept_part> held = kept_part::open(directory.get(), box, key_of("6"), why);
    ASSERT_TRUE(held.has_value()) << why;

    const auto week = std::chrono::seconds(7 * 86400);
    test::test_clock clock;
    clock.advance(std::chrono::days(6));
    EXPECT_TRUE(remove_expired_kept_parts(root, week, clock).empty()) << "six days old is not expired";
    clock.advance(std::chrono::days(2));
    EXPECT_EQ(remove_expired_kept_parts(root + "/", week, clock), (std::vector<std::string>{in_root, in_deep}));
    for (const std::string& path : {behind_link, upper_case, undotted, held->path()}) {
        EXPECT_TRUE(std::filesystem::exists(path)) << path;
    }
    EXPECT_TRUE(std::filesystem::is_directory(box + "/" + kept_part_name(key_of("5"))));

    const std::string fresh = box + "/" + kept_part_name(key_of("3"));
    write_text(fresh, "part");
    EXPECT_EQ(remove_expired_kept_parts(root, std::chrono::seconds(0)), std::vector<std::string>{fresh})
        << "no days kept: every part not held goes, however young";
    const std::string held_path = held->path();
    held.reset();
    EXPECT_EQ(remove_expired_kept_parts(root, week, clock), std::vector<std::string>{held_path});
}

TEST_F(KeptPart, SweepRunsAgainWhileListeningAndEndsWithoutWaitingOutItsInterval) {
    const std::string root = m_oHome.path() + "/boxes";
    std::filesystem::create_directories(root + "/Alice");
    {
        // An hour to its next sweep; a stop that did not wake it would hang here.
        const kept_part_sweep hourly(root, std::chrono::days(1));
    }
    const std::string part = root + "/Alice/" + kept_part_name(key_of("old.bin"));
    write_text(part, "old");
    test::test_clock clock;
    const kept_part_sweep sweep(root, std::chrono::days(1), std::chrono::milliseconds(10), clock);
    EXPECT_TRUE(std::filesystem::exists(part)) << "swept before its day was out";
    clock.advance(std::chrono::days(2));
    EXPECT_TRUE(test::wait_for([&] { return !std::filesystem::exists(part); }, std::chrono::seconds(10)));
}

} // namespace
} // namespace tiv
