#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <unistd.h>

#include "net/box/box_ledger.h"
#include "net/box/parcel_names.h"
#include "net/box/parcel_temporaries.h"
#include "net/single_file/file_record.h"
#include "net/single_file/transfer_file.h"
#include "support/fifo_call.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

using ParcelFiles = test::home_test;

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ParcelNames, LastComponentWithWhatCouldDeceiveReplaced) {
    EXPECT_EQ(parcel_file_name("../../x"), "x");
    EXPECT_EQ(parcel_file_name("C:\\Users\\a\\report.txt"), "report.txt");
    EXPECT_EQ(parcel_file_name("tab\there\x7f"), "tab_here_");
    EXPECT_EQ(parcel_file_name("bidi\u202etxt.exe"), "bidi_txt.exe") << "would read as bidiexe.txt";
    EXPECT_EQ(parcel_file_name("\x1b]0;owned\x07\xc2\x9b.txt"), "_]0;owned__.txt");
    EXPECT_EQ(parcel_file_name("caf\xe9.txt"), "caf_.txt") << "Latin-1, not UTF-8";
    EXPECT_EQ(parcel_file_name("caf\xc3\xa9.txt"), "caf\xc3\xa9.txt");
    EXPECT_EQ(parcel_file_name("...hidden"), "...hidden");
    EXPECT_EQ(parcel_file_name("__"), "__");
    for (const char* refused : {"", ".", "..", "a/", "b\\", "x/..", "\n\r", "\u2066\u2069"}) {
        EXPECT_EQ(parcel_file_name(refused), std::nullopt) << refused;
    }
    EXPECT_EQ(parcel_file_name(temporary_parcel_name()), std::nullopt) << "a parcel never passes for a temporary";
}

TEST(ParcelNames, NumberingCountsBeforeTheFirstDot) {
    EXPECT_EQ(numbered_name("report.txt", 0), "report.txt");
    EXPECT_EQ(numbered_name("report.txt", 1), "report(1).txt");
    EXPECT_EQ(numbered_name("archive.tar.gz", 2), "archive(2).tar.gz");
    EXPECT_EQ(numbered_name("README", 1000), "README(1000)");
    const std::string numbered = numbered_name(std::string(250, 'a') + ".txt", 12345);
    EXPECT_EQ(numbered.size(), 255U);
    EXPECT_EQ(numbered.substr(numbered.size() - 11), "(12345).txt");
}

TEST_F(ParcelFiles, MoveNeverReplacesAndGoesOnPast999) {
    const std::string box = m_oHome.path();
    write_text(box + "/r.txt", "original");
    for (int n = 1; n <= 1000; ++n) {
        write_text(box + "/r(" + std::to_string(n) + ").txt", "");
    }
    write_text(box + "/temp", "new");
    const auto stored = move_without_replacing(box + "/temp", box, "r.txt");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(*stored, box + "/r(1001).txt");
    EXPECT_EQ(read_text(*stored), "new");
    EXPECT_EQ(read_text(box + "/r.txt"), "original");
    EXPECT_EQ(read_text(box + "/r(999).txt"), "") << "the last tested name of old is not taken untested";
    EXPECT_FALSE(std::filesystem::exists(box + "/temp"));
}

TEST_F(ParcelFiles, SimultaneousMovesToOneNameKeepEveryFile) {
    const std::string box = m_oHome.path();
    constexpr int movers = 8;
    constexpr int each = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < movers; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < each; ++i) {
                const std::string temp = box + "/tmp-" + std::to_string(t) + "-" + std::to_string(i);
                write_text(temp, std::to_string(t * each + i));
                EXPECT_TRUE(move_without_replacing(temp, box, "same.bin").has_value());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::set<std::string> contents;
    for (const auto& entry : std::filesystem::directory_iterator(box)) {
        contents.insert(read_text(entry.path().string()));
    }
    EXPECT_EQ(contents.size(), static_cast<std::size_t>(movers * each));
}

TEST(FileRecord, LittleEndianLayoutAndNameLimits) {
    file_record record;
    record.set_name("ab");
    record.file_size = 0x01020304;
    const auto bytes = record.encode();
    EXPECT_EQ(bytes[0], 4);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 0x08); // 264
    EXPECT_EQ(bytes[3], 0x01);
    EXPECT_EQ(bytes[4], 'a');
    EXPECT_EQ(bytes[6], 0) << "the name ends with a NUL";
    EXPECT_EQ(bytes[260], 0x04);
    EXPECT_EQ(bytes[263], 0x01);
    EXPECT_EQ(file_record::decode(bytes).file_size, 0x01020304U);

    std::array<std::uint8_t, file_record::size> full = bytes;
    std::fill(full.begin() + 4, full.begin() + 260, 'n'); // no NUL anywhere in the field
    EXPECT_EQ(std::string(file_record::decode(full).file_name), std::string(255, 'n'));

    record.set_name(std::string(300, 'x'));
    EXPECT_EQ(std::string(file_record::decode(record.encode()).file_name), std::string(255, 'x'));
}

TEST_F(ParcelFiles, TransferFileReadsWritesAndRefuses) {
    transfer_file file;
    file.directory = m_oHome.path();
    write_text(m_oHome.path() + "/in", "0123456789");
    ASSERT_TRUE(file.open_file("in", transfer_file::reading));
    EXPECT_EQ(file.path, m_oHome.path() + "/in");
    char buffer[4];
    EXPECT_EQ(file.read_chunk(buffer, 4), 4);
    EXPECT_EQ(file.remaining, 6U);
    EXPECT_EQ(file.read_chunk(buffer, 4), 4);
    EXPECT_EQ(file.read_chunk(buffer, 4), 2);
    EXPECT_EQ(file.read_chunk(buffer, 4), 0);
    EXPECT_EQ(file.remaining, 0U);
    EXPECT_TRUE(file.close_file());

    EXPECT_FALSE(file.open_file("in", transfer_file::writing)) << "an existing file is never written over";
    EXPECT_FALSE(file.open_file(m_oHome.path(), transfer_file::reading)) << "a directory is not a file to send";
    const std::string fifo = m_oHome.path() + "/fifo";
    ASSERT_TRUE(test::make_fifo(fifo));
    bool opened = true;
    EXPECT_TRUE(test::returns_without_a_writer(
        fifo, [&] { opened = file.open_file(fifo, transfer_file::reading); }, std::chrono::seconds(5)))
        << "a FIFO is refused at once, not waited on";
    EXPECT_FALSE(opened);
    ASSERT_TRUE(file.open_file(m_oHome.path() + "/out", transfer_file::writing));
    ASSERT_TRUE(file.write_all("abc", 3));
    EXPECT_EQ(file.size, 3U);
    EXPECT_TRUE(file.close_file());
    EXPECT_FALSE(file.write_all("x", 1)) << "not open";
    EXPECT_EQ(read_text(m_oHome.path() + "/out"), "abc");
    EXPECT_EQ(without_trailing_separator("/a/b//"), "/a/b");
    EXPECT_EQ(without_trailing_separator("/"), "/");
}

// A temporary is stale when nobody holds it; flock locks of two descriptors conflict in one process as they do
// across processes, so a claim here stands for a transfer in another listener too.
TEST_F(ParcelFiles, SweepRemovesOnlyUnclaimedTemporariesWhichNeverCount) {
    const std::string root = m_oHome.path() + "/boxes";
    const std::string box = root + "/Alice";
    const std::string elsewhere = m_oHome.path() + "/elsewhere";
    for (const std::string& directory : {box, elsewhere}) {
        std::filesystem::create_directories(directory);
    }
    std::filesystem::create_directory_symlink(elsewhere, root + "/Linked");
    const std::string stale_in_root = root + "/" + temporary_parcel_name();
    const std::string stale_in_box = box + "/" + temporary_parcel_name();
    const std::string behind_link = elsewhere + "/" + temporary_parcel_name();
    for (const std::string& path :
         {stale_in_root, stale_in_box, behind_link, box + "/.parcel", box + "/.x.quorvel-part"}) {
        write_text(path, "data");
    }

    std::string live;
    {
        transfer_file writing;
        writing.directory = box;
        temporary_parcel_claim claim;
        ASSERT_TRUE(claim.create(writing));
        live = writing.path;
        ASSERT_TRUE(writing.write_all("abc", 3));
        ASSERT_TRUE(writing.close_file()) << "the claim outlasts the writer's close, up to the rename";
        EXPECT_TRUE(is_temporary_parcel_name(std::filesystem::path(live).filename().string()));
        EXPECT_EQ(count_box_entries(box), 2U) << "only the dot-file and the lookalike count";

        EXPECT_EQ(remove_stale_temporaries(root + "/"), (std::vector<std::string>{stale_in_root, stale_in_box}));
        EXPECT_TRUE(std::filesystem::exists(live));
        EXPECT_TRUE(std::filesystem::exists(behind_link)) << "a link below the root is not followed";
        EXPECT_TRUE(std::filesystem::exists(box + "/.x.quorvel-part")) << "not our shape, not ours";
    }
    EXPECT_EQ(remove_stale_temporaries(root), std::vector<std::string>{live}) << "a released claim is stale";
}

// Sizes past 4 GiB are counted in full; the record carries their low 32 bits.
TEST_F(ParcelFiles, SparseFileBeyondFourGibibytes) {
    const std::string path = m_oHome.path() + "/sparse";
    const std::uint64_t size = (std::uint64_t{1} << 32) + 10;
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        const bool sized = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
        ::close(fd);
        if (!sized) {
            GTEST_SKIP() << "this file system cannot hold a sparse file that large";
        }
    }
    transfer_file file;
    ASSERT_TRUE(file.open_file(path, transfer_file::reading));
    EXPECT_EQ(file.size, size);
    file_record record;
    record.file_size = static_cast<std::uint32_t>(file.size);
    EXPECT_EQ(record.file_size, 10U);
}

} // namespace
} // namespace tiv
