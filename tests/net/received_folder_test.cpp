#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "net/box/box_ledger.h"
#include "net/box/parcel_names.h"
#include "net/box/parcel_temporaries.h"
#include "net/single_file/transfer_file.h"
#include "net/stream/received_folder.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

using ReceivedFolder = test::home_test;
namespace fs = std::filesystem;

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string repeated(const std::string& part, std::size_t times, const std::string& separator) {
    std::string joined;
    for (std::size_t i = 0; i < times; ++i) {
        joined += (i == 0 ? "" : separator) + part;
    }
    return joined;
}

TEST(ParcelPaths, FromAPeerStayInsideTheFolder) {
    std::string why;
    EXPECT_EQ(parcel_path_components("a/b c/.hidden.txt", why), (std::vector<std::string>{"a", "b c", ".hidden.txt"}));
    EXPECT_EQ(parcel_path_components(repeated("d", max_folder_depth, "/"), why)->size(), max_folder_depth);
    EXPECT_TRUE(parcel_path_components(std::string(max_component_bytes, 'n'), why).has_value());

    const std::vector<std::string> refused = {"",
                                              "/abs",
                                              "../x",
                                              "a/../b",
                                              "a/./b",
                                              "..",
                                              "a//b",
                                              "a/",
                                              "a\\b",
                                              "a/b\x01",
                                              "a/\x1b[31m",
                                              "bidi\u202e/x",
                                              "a/" + temporary_parcel_name(),
                                              kept_part_name(std::string(32, 'f')) + "/x",
                                              std::string(max_component_bytes + 1, 'n'),
                                              repeated("d", max_folder_depth + 1, "/"),
                                              repeated(std::string(200, 'p'), 21, "/")};
    for (const std::string& sent : refused) {
        why.clear();
        EXPECT_EQ(parcel_path_components(sent, why), std::nullopt) << sent;
        EXPECT_FALSE(why.empty()) << sent;
    }
}

TEST_F(ReceivedFolder, NewNumberedSiblingAndNoLinkFollowed) {
    const std::string box = m_oHome.path() + "/Alice";
    const std::string elsewhere = m_oHome.path() + "/elsewhere";
    fs::create_directories(box + "/Photos");
    fs::create_directories(elsewhere);
    write_text(box + "/Photos/old.jpg", "old");
    std::string why;
    auto second = received_folder::create(box + "/", "Photos", why);
    ASSERT_TRUE(second.has_value()) << why;
    EXPECT_EQ(second->name(), "Photos(2)");
    EXPECT_EQ(second->path(), box + "/Photos(2)");
    EXPECT_TRUE(fs::is_directory(second->path()));
    auto third = received_folder::create(box, "Photos", why);
    ASSERT_TRUE(third.has_value()) << why;
    EXPECT_EQ(third->name(), "Photos(3)") << "never merged into a folder that exists";
    EXPECT_FALSE(received_folder::create(box, "..", why).has_value());
    EXPECT_FALSE(received_folder::create(box, "a/b", why).has_value());

    fs::create_directory_symlink(m_oHome.path() + "/Alice", m_oHome.path() + "/linked_box");
    EXPECT_FALSE(received_folder::create(m_oHome.path() + "/linked_box", "x", why).has_value());

    received_folder folder = std::move(*second);
    const std::vector<std::string> deep = {"a", "b", "c"};
    EXPECT_TRUE(folder.directory(deep, why)) << why;
    EXPECT_TRUE(fs::is_directory(folder.path() + "/a/b/c"));
    EXPECT_TRUE(folder.directory({}, why)) << "the folder itself";

    fs::create_directory_symlink(elsewhere, folder.path() + "/a/evil");
    const std::vector<std::string> through_link = {"a", "evil", "x"};
    why.clear();
    EXPECT_FALSE(folder.directory(through_link, why));
    EXPECT_NE(why.find("symbolic link"), std::string::npos) << why;
    EXPECT_TRUE(fs::is_empty(elsewhere)) << "nothing made behind the link";
    const std::vector<std::string> escaping = {"a", "..", ".."};
    EXPECT_FALSE(folder.directory(escaping, why));
}

TEST_F(ReceivedFolder, FilesWrittenInsideAreMovedSweptAndCounted) {
    const std::string root = m_oHome.path() + "/boxes";
    const std::string box = root + "/Alice";
    const std::string elsewhere = m_oHome.path() + "/elsewhere";
    fs::create_directories(box);
    fs::create_directories(elsewhere);
    std::string why;
    auto folder = received_folder::create(box, "Trip", why);
    ASSERT_TRUE(folder.has_value()) << why;
    const std::vector<std::string> day = {"day1", "morning"};
    const unique_fd directory = folder->directory(day, why);
    ASSERT_TRUE(directory) << why;
    const std::string shown = folder->path() + "/day1/morning";

    std::vector<std::string> stored;
    for (const std::string& text : std::vector<std::string>{"first", "second"}) {
        transfer_file file;
        temporary_parcel_claim claim;
        ASSERT_TRUE(claim.create_in(directory.get(), shown, file));
        const std::string temporary = fs::path(file.path).filename().string();
        EXPECT_EQ(file.path, shown + "/" + temporary);
        EXPECT_TRUE(is_temporary_parcel_name(temporary));
        ASSERT_TRUE(file.write_all(text.data(), text.size()));
        ASSERT_TRUE(file.close_file());
        const auto moved = move_without_replacing_at(directory.get(), temporary, directory.get(), shown, "photo.jpg");
        ASSERT_TRUE(moved.has_value());
        EXPECT_FALSE(fs::exists(file.path));
        stored.push_back(*moved);
    }
    EXPECT_EQ(stored, (std::vector<std::string>{shown + "/photo.jpg", shown + "/photo(1).jpg"}));
    EXPECT_EQ(read_text(stored[0]), "first");
    EXPECT_EQ(read_text(stored[1]), "second");

    // A kept part continued where it broke off.
    const std::string kept = kept_part_name(std::string(32, 'a'));
    write_text(shown + "/" + kept, "abc");
    {
        transfer_file file;
        file.adopt_for_writing(unique_fd(::openat(directory.get(), kept.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC)),
                               shown + "/" + kept, 3);
        ASSERT_EQ(file.mode, transfer_file::writing);
        ASSERT_TRUE(file.write_all("de", 2));
        EXPECT_EQ(file.size, 5U);
        EXPECT_TRUE(file.close_file());
    }
    EXPECT_EQ(read_text(shown + "/" + kept), "abcde");

    write_text(box + "/loose.txt", "");
    write_text(elsewhere + "/outside.txt", "");
    fs::create_directory_symlink(elsewhere, folder->path() + "/day1/linked");
    const std::string stale = shown + "/" + temporary_parcel_name();
    write_text(stale, "");
    const std::string behind_link = elsewhere + "/" + temporary_parcel_name();
    write_text(behind_link, "");
    EXPECT_EQ(count_box_entries(box), 6U)
        << "Trip, day1, morning, two photos and loose.txt; not the kept part, temporary or linked file";

    EXPECT_EQ(remove_stale_temporaries(root), std::vector<std::string>{stale});
    EXPECT_TRUE(fs::exists(behind_link));
    EXPECT_TRUE(fs::exists(shown + "/" + kept));
}

TEST_F(ReceivedFolder, TakenBackToNothingButWhatWasStoredInIt) {
    const std::string box = m_oHome.path() + "/Alice";
    fs::create_directories(box);
    std::string why;
    auto folder = received_folder::create(box, "E_x", why);
    ASSERT_TRUE(folder.has_value()) << why;
    for (const std::vector<std::string>& made : {std::vector<std::string>{"dir", "sub"}, {"stored", "deep"}}) {
        ASSERT_TRUE(folder->directory(made, why)) << why;
    }
    write_text(folder->path() + "/stored/file.txt", "x");
    EXPECT_EQ(folder->remove_directories(), std::vector<std::string>{"E_x/stored/file.txt"});
    EXPECT_FALSE(fs::exists(box + "/E_x/dir"));
    EXPECT_FALSE(fs::exists(box + "/E_x/stored/deep"));
    EXPECT_TRUE(fs::exists(box + "/E_x/stored/file.txt"));
}

} // namespace
} // namespace tiv
