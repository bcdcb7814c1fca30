#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "crypto/session_ticket_file.h"
#include "support/limited_disk.h"

namespace tiv {
namespace {

namespace fs = std::filesystem;

class SessionTicketFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quorvel-tickets-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_strDir = pattern;
    }
    void TearDown() override { fs::remove_all(m_strDir); }

    std::string path(const ticket_slot& slot) const { return m_strDir + "/" + ticket_file_name(slot); }

    std::string m_strDir;
    const std::int64_t m_nNow = 1'800'000'000;
    const ticket_slot m_oBob = ticket_slot_for("bob-uuid", std::vector<std::uint8_t>{1, 2}, {}, "suite");
    const ticket_slot m_oCarol = ticket_slot_for("carol-uuid", std::vector<std::uint8_t>{1, 2}, {}, "suite");
};

TEST_F(SessionTicketFile, OnlyAnIntactPrivateUnexpiredFileOfThisSlotIsRead) {
    const session_ticket ticket{{0x30, 0x82, 0x01, 0x02, 0x03}, m_nNow + 60};
    write_ticket_file(m_strDir, m_oBob, ticket);
    struct stat info {};
    ASSERT_EQ(::stat(path(m_oBob).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600U);
    const auto read = read_ticket_file(m_strDir, m_oBob, m_nNow);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->session, ticket.session);
    EXPECT_EQ(read->expires, ticket.expires);
    EXPECT_FALSE(read_ticket_file(m_strDir, m_oBob, m_nNow + 60).has_value()) << "expired";

    // A session the disk cannot take leaves the one saved before as it was, and nothing beside it.
    test::limited_disk full(10);
    write_ticket_file(m_strDir, m_oBob, {{7, 7, 7}, m_nNow + 120}, full);
    const auto kept = read_ticket_file(m_strDir, m_oBob, m_nNow);
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->session, ticket.session);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_strDir), fs::directory_iterator()), 1);
    EXPECT_FALSE(read_ticket_file(m_strDir, m_oCarol, m_nNow).has_value());

    // Bob's file put where Carol's belongs names Bob's slot inside.
    fs::copy_file(path(m_oBob), path(m_oCarol));
    EXPECT_FALSE(read_ticket_file(m_strDir, m_oCarol, m_nNow).has_value());

    ASSERT_EQ(::chmod(path(m_oBob).c_str(), 0640), 0);
    EXPECT_FALSE(read_ticket_file(m_strDir, m_oBob, m_nNow).has_value()) << "open to the group";
    ASSERT_EQ(::chmod(path(m_oBob).c_str(), 0600), 0);
    ASSERT_TRUE(read_ticket_file(m_strDir, m_oBob, m_nNow).has_value());

    remove_ticket_file(m_strDir, m_oBob);
    EXPECT_FALSE(fs::exists(path(m_oBob)));
}

TEST_F(SessionTicketFile, AnyChangedOrMissingByteIsRefused) {
    const session_ticket ticket{{9, 8, 7, 6, 5, 4}, m_nNow + 60};
    const std::vector<std::uint8_t> bytes = encode_ticket_file(m_oBob, ticket);
    ASSERT_TRUE(decode_ticket_file(bytes, m_oBob).has_value());
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        std::vector<std::uint8_t> changed = bytes;
        changed[at] ^= 0x01;
        EXPECT_FALSE(decode_ticket_file(changed, m_oBob).has_value()) << "byte " << at;
        EXPECT_FALSE(decode_ticket_file(std::span(bytes).first(at), m_oBob).has_value()) << "cut at " << at;
    }
    std::vector<std::uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(decode_ticket_file(longer, m_oBob).has_value());
}

} // namespace
} // namespace tiv
