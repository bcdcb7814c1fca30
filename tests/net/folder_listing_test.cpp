#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "net/stream/folder_listing.h"
#include "net/stream/received_folder.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

using FolderListing = test::home_test;
namespace fs = std::filesystem;

void write_with_mtime(const std::string& path, const std::string& text, std::int64_t seconds, long nanoseconds) {
    std::ofstream(path, std::ios::binary) << text;
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(FolderListing, ThreeLevelsListedInOrderLinksSkipped) {
    const std::string top = m_oHome.path() + "/Photos";
    fs::create_directories(top + "/b/deeper");
    fs::create_directories(top + "/a-empty");
    write_with_mtime(top + "/z.txt", "zz", 1'700'000'000, 5);
    write_with_mtime(top + "/b/one.bin", "12345", 1'600'000'000, 999'999'999);
    write_with_mtime(top + "/b/deeper/two", "", 1'500'000'000, 0);
    fs::create_directory_symlink(m_oHome.path(), top + "/b/home-link");
    fs::create_symlink(top + "/z.txt", top + "/y-link");
    ASSERT_EQ(::mkfifo((top + "/fifo").c_str(), 0600), 0);

    std::string why;
    const auto listing = list_folder(top + "/", why);
    ASSERT_TRUE(listing.has_value()) << why;
    EXPECT_EQ(listing->top_name, "Photos");
    EXPECT_EQ(listing->directories, (std::vector<std::string>{"a-empty", "b", "b/deeper"}));
    ASSERT_EQ(listing->files.size(), 3U);
    EXPECT_EQ(listing->files[0].relative, "b/deeper/two");
    EXPECT_EQ(listing->files[1].relative, "b/one.bin");
    EXPECT_EQ(listing->files[1].size, 5U);
    EXPECT_EQ(listing->files[1].mtime_ns, 1'600'000'000'999'999'999LL);
    EXPECT_EQ(listing->files[2].relative, "z.txt");
    EXPECT_EQ(listing->files[2].mtime_ns, 1'700'000'000'000'000'005LL);
    EXPECT_EQ(listing->total_bytes, 7U);
    EXPECT_EQ(listing->skipped,
              (std::vector<std::string>{"b/home-link: symbolic link, not followed", "fifo: not a regular file",
                                        "y-link: symbolic link, not followed"}));

    fs::create_directory_symlink(top, m_oHome.path() + "/top-link");
    EXPECT_FALSE(list_folder(m_oHome.path() + "/top-link/", why).has_value()) << "the top is not followed either";
    EXPECT_NE(why.find("symbolic link"), std::string::npos) << why;
    EXPECT_FALSE(list_folder(top + "/z.txt", why).has_value());
    EXPECT_NE(why.find("not a directory"), std::string::npos) << why;
}

TEST_F(FolderListing, RefusesATreeDeeperThanAReceiverTakes) {
    std::string path = m_oHome.path() + "/Deep";
    for (std::size_t level = 0; level < max_folder_depth; ++level) {
        path += "/d";
    }
    fs::create_directories(path);
    std::string why;
    EXPECT_TRUE(list_folder(m_oHome.path() + "/Deep", why).has_value()) << "empty at the deepest level: " << why;
    std::ofstream(path + "/f") << "x";
    EXPECT_FALSE(list_folder(m_oHome.path() + "/Deep", why).has_value());
    EXPECT_FALSE(why.empty());
    const auto here = fs::current_path();
    fs::current_path(m_oHome.path() + "/Deep/d");
    const auto from_dot = list_folder(".", why);
    fs::current_path(here);
    ASSERT_TRUE(from_dot.has_value()) << why;
    EXPECT_EQ(from_dot->top_name, "d");
}

} // namespace
} // namespace tiv
