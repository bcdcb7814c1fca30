#include <set>

#include "core/text.h"
#include "transfer_fixture.h"

namespace tiv::test {
namespace {

class TransferPolicy : public transfer_test {
protected:
    // Sends a name exactly as given through a hand-driven sender.
    void send_named(const std::string& name, const std::vector<std::uint8_t>& data) {
        manual_peer peer(*s_pAlice, m_oBobProfile, m_pListener->listening_address());
        ASSERT_TRUE(peer.authenticated());
        ASSERT_TRUE(peer.send_record(name, static_cast<std::uint32_t>(data.size())));
        // The receiver may refuse on the record alone and reset the connection before the data is out, so a
        // failed send here is no fault; the receiver's verdict is what the tests check.
        (void)peer.send_data(data, true);
        peer.half_close();
        EXPECT_TRUE(peer.peer_closed_within(std::chrono::seconds(5)));
    }
};

TEST_F(TransferPolicy, ReceiptDisabledIsRefusedWithItsReason) {
    bob_accepts_alice(0xE40, 0);
    listen();
    const auto sent = send_file(make_file("no.txt", 100));
    ASSERT_TRUE(wait_sent());
    ASSERT_TRUE(wait_received(1));
    EXPECT_EQ(received(0).status, transfer_status::refused);
    EXPECT_EQ(received(0).state, transfer_state::verifying_permissions);
    EXPECT_TRUE(m_oLog.contains("R::Parcel refused [Alice][no.txt]: parcel receipt is disabled for this friend"));
    EXPECT_TRUE(sent->snapshot().failed);
    EXPECT_TRUE(names_in(alice_box()).empty());
}

TEST_F(TransferPolicy, MaximumSizeHoldsUnlessUnlimited) {
    bob_accepts_alice(0xE40, 1, 1000);
    listen();
    (void)send_file(make_file("fits.bin", 1000));
    ASSERT_TRUE(wait_sent());
    (void)send_file(make_file("large.bin", 1001));
    ASSERT_TRUE(wait_sent());
    ASSERT_TRUE(wait_received(2));
    EXPECT_FALSE(received(0).failed);
    EXPECT_EQ(received(1).status, transfer_status::refused);
    EXPECT_TRUE(m_oLog.contains(
        "R::Parcel refused [Alice][large.bin]: the file of 1001 bytes is larger than the maximum of 1000 bytes"));
    EXPECT_EQ(names_in(alice_box()), std::vector<std::string>{"fits.bin"});

    // A record that understates the size does not get round the limit.
    send_named("liar.bin", pattern_bytes(5000, 1));
    ASSERT_TRUE(wait_received(3));
    EXPECT_EQ(received(2).status, transfer_status::refused);
    EXPECT_EQ(names_in(alice_box()), std::vector<std::string>{"fits.bin"});
}

TEST_F(TransferPolicy, MaximumCountCountsTheFilesAlreadyInTheBox) {
    bob_accepts_alice(0xE40, 1, unlimited, 2);
    listen();
    for (const char* name : {"one", "two", "three"}) {
        (void)send_file(make_file(name, 10));
        ASSERT_TRUE(wait_sent());
    }
    ASSERT_TRUE(wait_received(3));
    EXPECT_EQ(received(2).status, transfer_status::refused);
    EXPECT_TRUE(
        m_oLog.contains("R::Parcel refused [Alice][three]: the parcel box already holds 2 files, the maximum is 2"));
    EXPECT_EQ(names_in(alice_box()), (std::vector<std::string>{"one", "two"}));
}

TEST_F(TransferPolicy, NamesAreReducedToTheirLastComponent) {
    listen();
    send_named("../../x", pattern_bytes(10, 1));
    send_named("..\\..\\win.txt", pattern_bytes(10, 2));
    send_named("/etc/abs", pattern_bytes(10, 3));
    send_named(std::string("bell\x07name\x1f"), pattern_bytes(10, 4));
    ASSERT_TRUE(wait_received(4));
    EXPECT_EQ(names_in(alice_box()), (std::vector<std::string>{"abs", "bell_name_", "win.txt", "x"}));
    EXPECT_EQ(names_in(m_strRoot), std::vector<std::string>{"Alice"}) << "nothing beside the friend's box";
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(m_strRoot).parent_path() / "x"));
    const auto expected = pattern_bytes(10, 1);
    EXPECT_EQ(read_all(alice_box() + "/x"), std::string(expected.begin(), expected.end()));
}

TEST_F(TransferPolicy, NamesThatNameNoFileAreRefused) {
    listen();
    for (const char* name : {"", ".", "..", "dir/", "a/..", "\x01\x02"}) {
        send_named(name, pattern_bytes(10, 1));
    }
    ASSERT_TRUE(wait_received(6));
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(received(i).status, transfer_status::refused) << i;
    }
    EXPECT_TRUE(names_in(alice_box()).empty());
}

// The friend's box is named by a stored value that an imported or edited profile sets: it must be one directory
// right below the root, or nothing is stored at all.
TEST_F(TransferPolicy, ReceiptDirectoryThatIsNotOnePlainNameIsRefused) {
    listen();
    for (const char* box : {"../escaped", ""}) {
        friend_profile alice = s_pAlice->as_friend(0xE40);
        alice.receipt_enabled = 1;
        alice.max_file_size = unlimited;
        alice.max_file_count = unlimited;
        copy_text_field(alice.receipt_directory, box);
        ASSERT_TRUE(save_profile(s_pBob->settings(), alice));
        send_named("x.txt", pattern_bytes(10, 1));
    }
    ASSERT_TRUE(wait_received(2));
    EXPECT_EQ(received(0).status, transfer_status::refused);
    EXPECT_EQ(received(1).status, transfer_status::refused);
    EXPECT_TRUE(m_oLog.contains(
        "R::Parcel refused [Alice][x.txt]: the ReceiptDirectory [../escaped] is not one plain directory name"));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(m_strRoot).parent_path() / "escaped"));
    EXPECT_TRUE(names_in(m_strRoot).empty()) << "nothing in the root either";
}

TEST_F(TransferPolicy, DuplicateNamesAreNumberedAndNeverReplaced) {
    listen();
    std::set<std::string> contents;
    for (unsigned round = 0; round < 3; ++round) {
        const std::string source = make_file("photo.jpg", 100 + round, round);
        contents.insert(read_all(source));
        (void)send_file(source);
        ASSERT_TRUE(wait_sent());
    }
    EXPECT_EQ(names_in(alice_box()), (std::vector<std::string>{"photo(1).jpg", "photo(2).jpg", "photo.jpg"}));
    EXPECT_EQ(read_all(alice_box() + "/photo.jpg").size(), 100U) << "the first keeps its name";
}

TEST_F(TransferPolicy, ReceiversFinishingTogetherEachKeepTheirOwnFile) {
    listen();
    std::set<std::string> contents;
    for (unsigned i = 0; i < 12; ++i) {
        const std::string directory = source_dir() + "/" + std::to_string(i);
        std::filesystem::create_directories(directory);
        const std::string source = make_file(std::to_string(i) + "/same.bin", 5000, i);
        contents.insert(read_all(source));
        (void)send_file(source);
    }
    ASSERT_TRUE(wait_sent());
    ASSERT_TRUE(wait_received(12));
    std::set<std::string> stored;
    for (const std::string& name : names_in(alice_box())) {
        stored.insert(read_all(alice_box() + "/" + name));
    }
    EXPECT_EQ(names_in(alice_box()).size(), 12U);
    EXPECT_EQ(stored, contents);
}

} // namespace
} // namespace tiv::test
