#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <thread>

#include "crypto/negotiating_authentycryptor.h"
#include "crypto/session_key_types.h"
#include "net/socket/socket_link.h"
#include "net/stream/parcel_frames.h"
#include "net/stream/parcel_link.h"
#include "net/transfer/incoming_connection_handler.h"
#include "net/transfer/parcel_receipt.h"
#include "peer_pair.h"
#include "peer_process.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/counting_proxy.h"
#include "support/test_identity.h"

namespace tiv::test {
namespace {

namespace fs = std::filesystem;
using version = negotiating_authentycryptor::version;

// Bob listens as a real quorvel-cli process and Alice sends with one; both pin each other's key.
class ParcelStream : public peer_pair_test {
protected:
    void SetUp() override {
        peer_pair_test::SetUp();
        fs::remove_all(s_pBob->home() + "/PBoxes/Alice");
        for (auto [person, other] : {std::pair{s_pAlice, s_pBob}, std::pair{s_pBob, s_pAlice}}) {
            friend_profile profile = other->as_friend(all_session_key_types, true);
            profile.receipt_enabled = 1;
            (void)delete_profile(person->settings(), profile.name);
            ASSERT_TRUE(save_profile(person->settings(), profile));
        }
    }

    void listen() {
        if (m_nPort == 0) {
            m_nPort = free_loopback_port();
            ASSERT_TRUE(write_dword_setting(s_pBob->settings().machine_key(), names::interface_ip_port,
                                            static_cast<std::uint32_t>(m_nPort)));
        }
        m_pListener = std::make_unique<peer_process>(s_pBob->home(), std::vector<std::string>{"listen"},
                                                     m_strWork + "/listen-" + std::to_string(++m_nListens) + ".out");
        ASSERT_TRUE(m_pListener->wait_for_output("Listening on 127.0.0.1:" + std::to_string(m_nPort), 15000));
    }

    int send(const std::string& what, int port = 0) {
        peer_process sending(s_pAlice->home(),
                             {"send", "Bob", what, "--to=127.0.0.1:" + std::to_string(port != 0 ? port : m_nPort)},
                             m_strWork + "/send-" + std::to_string(++m_nSends) + ".out");
        const int code = sending.wait(120000);
        m_strLastSend = sending.output();
        return code;
    }

    [[nodiscard]] static std::string box() { return s_pBob->home() + "/PBoxes/Alice"; }

    // Sends `what` through `relay`, which holds everything back after `limit` bytes, and kills the receiver then.
    void cut_receiving(counting_proxy& relay, const std::string& what, std::uint64_t limit) {
        relay.reset(limit);
        peer_process sending(s_pAlice->home(), {"send", "Bob", what, "--to=127.0.0.1:" + std::to_string(relay.port())},
                             m_strWork + "/send-cut-" + std::to_string(++m_nSends) + ".out");
        for (int i = 0; i < 600 && !relay.holding(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ASSERT_TRUE(relay.holding()) << sending.output();
        // What the relay let through has reached the receiver's disk before it dies.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        m_pListener->signal(SIGKILL);
        (void)m_pListener->wait(10000);
        EXPECT_NE(sending.wait(60000), 0);
    }

    std::unique_ptr<peer_process> m_pListener;
    int m_nPort = 0;
    int m_nListens = 0;
    int m_nSends = 0;
    std::string m_strLastSend;
};

// Every regular file below `root`, relative, with its hash; directories as themselves.
std::map<std::string, std::string> tree_of(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = entry.path().lexically_relative(root).string();
        tree[relative] = entry.is_symlink() ? "link" : entry.is_directory() ? "dir" : file_sha256(entry.path());
    }
    return tree;
}

TEST_F(ParcelStream, FolderArrivesAsTheSameTreeAndASecondSendAsANumberedSibling) {
    listen();
    const std::string folder = m_strWork + "/Photos";
    int made = 0;
    for (const char* top : {"2023", "2024", "2025"}) {
        for (const char* month : {"jan", "feb"}) {
            const std::string directory = folder + "/" + top + "/" + month;
            fs::create_directories(directory);
            for (int i = 0; i < 50; ++i, ++made) {
                write_random_file(directory + "/img" + std::to_string(i) + ".jpg", static_cast<std::size_t>(made * 7));
            }
        }
    }
    fs::create_directories(folder + "/empty/inner");
    fs::create_symlink("/etc", folder + "/2024/etc-link");
    std::map<std::string, std::string> expected = tree_of(folder);
    expected.erase("2024/etc-link");
    ASSERT_EQ(made, 300);

    ASSERT_EQ(send(folder), 0) << m_strLastSend;
    EXPECT_NE(m_strLastSend.find("skipped: Photos/2024/etc-link: symbolic link, not followed"), std::string::npos)
        << m_strLastSend;
    EXPECT_EQ(tree_of(box() + "/Photos"), expected);

    ASSERT_EQ(send(folder), 0) << m_strLastSend;
    EXPECT_EQ(tree_of(box() + "/Photos(2)"), expected);
    EXPECT_EQ(m_pListener->output().find("R::Parcel refused"), std::string::npos);
    // One connection, and one handshake, for each folder of 300 files.
    const std::string log = m_pListener->output();
    std::size_t handshakes = 0;
    for (std::size_t at = 0; (at = log.find("R::Authenticating SUCCEEDED", at)) != std::string::npos; ++at) {
        ++handshakes;
    }
    EXPECT_EQ(handshakes, 2U);
}

// Plays a sender that names hostile paths: it authenticates as Alice, then writes frames by hand.
class hostile_sender {
public:
    hostile_sender(test_identity& alice, test_identity& bob, int port)
        : m_oCipher(alice.provider(), alice.settings(), version::with_stream) {
        net_address destination{};
        m_bReady = resolve_address("127.0.0.1", static_cast<std::uint16_t>(port), destination) &&
                   open_tcp_socket(m_oSocket) && connect_socket(m_oSocket, destination);
        socket_link link(m_oSocket);
        m_bReady = m_bReady && m_oCipher.AuthenticateAsSender(link, bob.as_friend(all_session_key_types, true)) &&
                   m_oCipher.carries_parcel_stream();
        m_pLink = std::make_unique<parcel_link>(m_oSocket, m_oCipher);
    }
    ~hostile_sender() { close_socket(m_oSocket); }

    [[nodiscard]] bool ready() const { return m_bReady; }
    parcel_link& link() { return *m_pLink; }

    // The receipt the receiver answers with; none when the connection ended instead.
    std::optional<parcel_receipt> receipt() {
        frame_type type{};
        std::span<const std::uint8_t> payload;
        parcel_receipt receipt;
        std::size_t used = 0;
        if (m_pLink->receive(type, payload, 10000) != parcel_link::arrival::frame || type != frame_type::receipt ||
            decode_receipt(payload, receipt, used) != receipt_parse::complete) {
            return std::nullopt;
        }
        return receipt;
    }
    bool stored() {
        const std::optional<parcel_receipt> answer = receipt();
        return answer && answer->stored();
    }

    bool folder(const std::string& name, std::uint32_t files, std::uint32_t directories) {
        std::vector<std::uint8_t> plain;
        append_frame(plain, frame_type::folder,
                     encode_folder({.name = name, .files = files, .directories = directories, .bytes = files}));
        for (std::uint32_t i = 0; i < directories; ++i) {
            append_frame(plain, frame_type::directory, encode_directory("d" + std::to_string(i)));
        }
        return m_pLink->send(plain);
    }

    // A file of two bytes, sent up to its first; finish() sends the rest.
    bool start(const std::string& path) {
        std::vector<std::uint8_t> plain;
        append_frame(plain, frame_type::file, encode_file({.path = path, .size = 2, .resumable = false}));
        append_frame(plain, frame_type::data, std::vector<std::uint8_t>{'x'});
        return m_pLink->send(plain);
    }
    bool finish() {
        std::vector<std::uint8_t> plain;
        append_frame(plain, frame_type::data, std::vector<std::uint8_t>{'y'});
        append_frame(plain, frame_type::file_end, encode_file_end({.complete = true, .whole_hash = std::nullopt}));
        return m_pLink->send(plain);
    }

    bool file(const std::string& path, const std::string& content) {
        std::vector<std::uint8_t> plain;
        append_frame(plain, frame_type::file,
                     encode_file({.path = path, .size = content.size(), .mtime_ns = 0, .resumable = false}));
        append_frame(plain, frame_type::data,
                     std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()));
        append_frame(plain, frame_type::file_end, encode_file_end({.complete = true, .whole_hash = std::nullopt}));
        return m_pLink->send(plain);
    }

private:
    net_socket m_oSocket;
    negotiating_authentycryptor m_oCipher;
    std::unique_ptr<parcel_link> m_pLink;
    bool m_bReady = false;
};

TEST_F(ParcelStream, HostilePathsStoreNothingOutsideTheBox) {
    listen();
    {
        // A directory that climbs out refuses the whole folder.
        hostile_sender mallory(*s_pAlice, *s_pBob, m_nPort);
        ASSERT_TRUE(mallory.ready());
        std::vector<std::uint8_t> plain;
        append_frame(plain, frame_type::folder,
                     encode_folder({.name = "Evil", .files = 1, .directories = 1, .bytes = 1}));
        append_frame(plain, frame_type::directory, encode_directory("../../climbed"));
        ASSERT_TRUE(mallory.link().send(plain));
        const auto refused = mallory.receipt();
        ASSERT_TRUE(refused.has_value());
        EXPECT_FALSE(refused->stored());
    }
    {
        hostile_sender mallory(*s_pAlice, *s_pBob, m_nPort);
        ASSERT_TRUE(mallory.ready());
        ASSERT_TRUE(mallory.link().send_frame(
            frame_type::folder, encode_folder({.name = "Fine", .files = 4, .directories = 0, .bytes = 4})));
        ASSERT_TRUE(mallory.receipt().value_or(parcel_receipt{}).stored());
        for (const std::string& path :
             std::vector<std::string>{"../x", "/tmp/absolute", "a/../../x", "ctl\x01name", "a//b"}) {
            ASSERT_TRUE(mallory.file(path, "x")) << path;
            const auto answer = mallory.receipt();
            ASSERT_TRUE(answer.has_value()) << path;
            EXPECT_FALSE(answer->stored()) << path;
        }
        ASSERT_TRUE(mallory.file("inside/ok.txt", "y"));
        const auto stored = mallory.receipt();
        EXPECT_TRUE(stored && stored->stored());
    }
    EXPECT_FALSE(fs::exists(s_pBob->home() + "/climbed"));
    EXPECT_FALSE(fs::exists(s_pBob->home() + "/PBoxes/climbed"));
    EXPECT_FALSE(fs::exists(s_pBob->home() + "/PBoxes/x"));
    EXPECT_FALSE(fs::exists(box() + "/x"));
    EXPECT_FALSE(fs::exists("/tmp/absolute"));
    EXPECT_EQ(read_file_text(box() + "/Fine/inside/ok.txt"), "y");
    EXPECT_NE(m_pListener->output().find("R::Parcel refused [Alice][Evil/]"), std::string::npos)
        << m_pListener->output();
    EXPECT_NE(m_pListener->output().find("R::Parcel refused [Alice][../x]"), std::string::npos);
}

// The kept part in a box; empty when there is none.
std::string kept_part_in(const std::string& box) {
    for (const auto& entry : fs::directory_iterator(box)) {
        if (entry.path().extension() == ".quorvel-keep") {
            return entry.path().string();
        }
    }
    return {};
}

TEST_F(ParcelStream, ABrokenTransferContinuesWhereItStoppedAndATamperedPartIsSentWhole) {
    constexpr std::uint64_t size = 200'000'000;
    const std::string video = m_strWork + "/video.mkv";
    write_random_file(video, size);
    listen();
    counting_proxy relay(m_nPort);
    ASSERT_NE(relay.port(), 0);

    const auto cut = [&] {
        cut_receiving(relay, video, size / 2);
        ASSERT_FALSE(fs::exists(box() + "/video.mkv"));
        ASSERT_GT(fs::file_size(kept_part_in(box())), size / 3);
    };

    cut();
    listen();
    relay.reset();
    ASSERT_EQ(send(video, relay.port()), 0) << m_strLastSend;
    EXPECT_LT(relay.forwarded(), 110'000'000U);
    EXPECT_NE(m_strLastSend.find("resumed at byte"), std::string::npos) << m_strLastSend;
    EXPECT_EQ(file_sha256(box() + "/video.mkv"), file_sha256(video));
    EXPECT_TRUE(kept_part_in(box()).empty());

    // A kept part whose bytes changed on disk is found out, and the file goes whole.
    fs::remove(box() + "/video.mkv");
    cut();
    {
        std::fstream part(kept_part_in(box()), std::ios::in | std::ios::out | std::ios::binary);
        part.seekp(1000);
        part.put('\x5A');
        part.seekp(1001);
        part.put('\xA5');
    }
    listen();
    relay.reset();
    ASSERT_EQ(send(video, relay.port()), 0) << m_strLastSend;
    EXPECT_GE(relay.forwarded(), size);
    EXPECT_EQ(m_strLastSend.find("resumed at byte"), std::string::npos) << m_strLastSend;
    EXPECT_EQ(file_sha256(box() + "/video.mkv"), file_sha256(video));
    EXPECT_NE(m_pListener->output().find("differs from the sender's file"), std::string::npos);
}

TEST_F(ParcelStream, AFolderCutOffMidwayArrivesWholeAsTheNextFolderWithItsLargeFileResumed) {
    const std::string album = m_strWork + "/Album";
    fs::create_directories(album + "/clips");
    write_random_file(album + "/clips/long.mp4", 40'000'000);
    write_random_file(album + "/note.txt", 100);
    listen();
    counting_proxy relay(m_nPort);
    ASSERT_NE(relay.port(), 0);
    cut_receiving(relay, album, 20'000'000);
    ASSERT_FALSE(kept_part_in(box()).empty()) << "the part is kept in the box, outside the folder";

    listen();
    relay.reset();
    ASSERT_EQ(send(album, relay.port()), 0) << m_strLastSend;
    EXPECT_LT(relay.forwarded(), 30'000'000U);
    EXPECT_NE(m_strLastSend.find("Album/clips/long.mp4: COMPLETED (resumed at byte"), std::string::npos)
        << m_strLastSend;
    EXPECT_EQ(file_sha256(box() + "/Album(2)/clips/long.mp4"), file_sha256(album + "/clips/long.mp4"));
    EXPECT_EQ(file_sha256(box() + "/Album(2)/note.txt"), file_sha256(album + "/note.txt"));
    EXPECT_TRUE(kept_part_in(box()).empty());
}

TEST_F(ParcelStream, AnOlderReceiverGetsFilesAsBeforeAndRefusesAFolderWithTheReason) {
    // Bob's program of the version before the stream.
    net_address local{};
    ASSERT_TRUE(resolve_address("127.0.0.1", 0, local));
    incoming_connection_handler old_bob(
        s_pBob->home() + "/PBoxes", local, 2048,
        std::make_shared<negotiating_authentycryptor>(s_pBob->provider(), s_pBob->settings(), version::with_receipt),
        8);
    ASSERT_TRUE(old_bob.listening());
    const int port = ntohs(old_bob.listening_address().endpoint.v4.sin_port);

    std::vector<std::string> files;
    for (int i = 0; i < 3; ++i) {
        files.push_back(m_strWork + "/loose" + std::to_string(i));
        write_random_file(files.back(), 5000);
    }
    peer_process sending(s_pAlice->home(),
                         {"send", "Bob", files[0], files[1], files[2], "--to=127.0.0.1:" + std::to_string(port)},
                         m_strWork + "/send-old.out");
    ASSERT_EQ(sending.wait(60000), 0) << sending.output();
    for (const std::string& file : files) {
        EXPECT_EQ(file_sha256(box() + "/" + fs::path(file).filename().string()), file_sha256(file));
    }

    fs::create_directories(m_strWork + "/Folder");
    write_random_file(m_strWork + "/Folder/a", 10);
    ASSERT_EQ(send(m_strWork + "/Folder", port), 1);
    EXPECT_NE(m_strLastSend.find("Bob's program cannot take folders"), std::string::npos) << m_strLastSend;
    EXPECT_FALSE(fs::exists(box() + "/Folder"));
    EXPECT_FALSE(fs::exists(box() + "/a"));
}

// Alice's program moved to another port. Her next parcel tells Bob, whose stored profile follows her unless he said
// no, and whose next send then reaches her without a new profile file; a receiver of version 4 hears nothing of it.
TEST_F(ParcelStream, AFriendsNewAddressFollowsHerParcelUnlessTheUserSaysNo) {
    const int moved = free_loopback_port();
    ASSERT_TRUE(write_dword_setting(s_pAlice->settings().machine_key(), names::interface_ip_port,
                                    static_cast<std::uint32_t>(moved)));
    ASSERT_TRUE(write_text_setting(s_pAlice->settings().machine_key(), names::external_name, "127.0.0.1"));
    const auto stored_port = [] {
        friend_profile alice;
        return look_up_profile(s_pBob->settings(), "Alice", alice) == profile_lookup::found ? alice.port : -1;
    };
    const auto forget_address = [] {
        friend_profile alice = s_pAlice->as_friend(all_session_key_types, true);
        alice.port = 9;
        alice.receipt_enabled = 1;
        ASSERT_TRUE(save_profile(s_pBob->settings(), alice));
    };
    const std::string parcel = m_strWork + "/note.txt";
    write_random_file(parcel, 100);

    forget_address();
    net_address local{};
    ASSERT_TRUE(resolve_address("127.0.0.1", 0, local));
    {
        incoming_connection_handler older_bob(
            s_pBob->home() + "/PBoxes", local, 2048,
            std::make_shared<negotiating_authentycryptor>(s_pBob->provider(), s_pBob->settings(), version::pipelined),
            8);
        ASSERT_TRUE(older_bob.listening());
        ASSERT_EQ(send(parcel, ntohs(older_bob.listening_address().endpoint.v4.sin_port)), 0) << m_strLastSend;
        EXPECT_EQ(stored_port(), 9);
    }

    ASSERT_TRUE(write_dword_setting(s_pBob->settings().user_key(), names::follow_friend_addresses, 0));
    listen();
    ASSERT_EQ(send(parcel), 0) << m_strLastSend;
    EXPECT_EQ(stored_port(), 9);
    m_pListener.reset();

    ASSERT_TRUE(write_dword_setting(s_pBob->settings().user_key(), names::follow_friend_addresses, 1));
    listen();
    ASSERT_EQ(send(parcel), 0) << m_strLastSend;
    EXPECT_TRUE(m_pListener->wait_for_output(
        "Alice's address changed from 127.0.0.1:9 to 127.0.0.1:" + std::to_string(moved), 5000))
        << m_pListener->output();
    EXPECT_EQ(stored_port(), moved);
    EXPECT_EQ(address_change_of(s_pBob->settings(), "Alice"),
              "Alice's address changed from 127.0.0.1:9 to 127.0.0.1:" + std::to_string(moved));

    peer_process alice_listens(s_pAlice->home(), {"listen"}, m_strWork + "/alice-listen.out");
    ASSERT_TRUE(alice_listens.wait_for_output("Listening on 127.0.0.1:" + std::to_string(moved), 15000));
    peer_process bob_sends(s_pBob->home(), {"send", "Alice", parcel}, m_strWork + "/bob-send.out");
    EXPECT_EQ(bob_sends.wait(60000), 0) << bob_sends.output();
    EXPECT_EQ(file_sha256(s_pAlice->home() + "/PBoxes/Bob/note.txt"), file_sha256(parcel));
    fs::remove_all(s_pAlice->home() + "/PBoxes/Bob");
}

// Bob takes at most ten entries from Alice.
class ParcelLimits : public ParcelStream {
protected:
    void SetUp() override {
        ParcelStream::SetUp();
        friend_profile alice = s_pAlice->as_friend(all_session_key_types, true);
        alice.receipt_enabled = 1;
        alice.max_file_count = 10;
        ASSERT_TRUE(save_profile(s_pBob->settings(), alice));
        listen();
    }
};

TEST_F(ParcelLimits, ParallelConnectionsStayWithinTheCount) {
    // Every file is under way at once: none is in the box when the others ask for room.
    std::vector<std::unique_ptr<hostile_sender>> peers;
    for (int i = 0; i < 24; ++i) {
        peers.push_back(std::make_unique<hostile_sender>(*s_pAlice, *s_pBob, m_nPort));
        ASSERT_TRUE(peers.back()->ready() && peers.back()->start("file" + std::to_string(i)));
    }
    int stored = 0;
    for (auto& peer : peers) {
        ASSERT_TRUE(peer->finish());
        stored += peer->stored() ? 1 : 0;
    }
    EXPECT_EQ(stored, 10);
    EXPECT_EQ(tree_of(box()).size(), 10U);
}

TEST_F(ParcelLimits, FoldersCountWithTheirDirectoriesAndAgainstEachOther) {
    hostile_sender loose(*s_pAlice, *s_pBob, m_nPort);
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(loose.file("loose" + std::to_string(i), "x") && loose.stored()) << i;
    }
    // The folder's own directory and four inside it do not fit beside six files.
    hostile_sender directories(*s_pAlice, *s_pBob, m_nPort);
    ASSERT_TRUE(directories.folder("Empty", 0, 4));
    EXPECT_FALSE(directories.stored());
    // Room for one folder of three files, all four asking at once.
    std::vector<std::unique_ptr<hostile_sender>> peers;
    for (int i = 0; i < 4; ++i) {
        peers.push_back(std::make_unique<hostile_sender>(*s_pAlice, *s_pBob, m_nPort));
        ASSERT_TRUE(peers.back()->folder("F" + std::to_string(i), 3, 0));
    }
    int folders = 0;
    for (auto& peer : peers) {
        if (peer->stored()) {
            ++folders;
            for (const char* name : {"a", "b"}) {
                EXPECT_TRUE(peer->file(name, "x") && peer->stored()) << name;
            }
            // A directory the folder did not announce needs room of its own.
            EXPECT_TRUE(peer->file("sub/c", "x") && !peer->stored());
        }
    }
    EXPECT_EQ(folders, 1);
    EXPECT_EQ(tree_of(box()).size(), 9U);
}

TEST_F(ParcelStream, ARevokedFriendsOpenStreamStopsAtTheNextFileAndAMalformedFrameIsLoggedWithItsReason) {
    listen();
    hostile_sender peer(*s_pAlice, *s_pBob, m_nPort);
    ASSERT_TRUE(peer.file("before", "x") && peer.stored());
    friend_profile refused = s_pAlice->as_friend(all_session_key_types, true);
    refused.receipt_enabled = 0;
    ASSERT_TRUE(save_profile(s_pBob->settings(), refused));
    ASSERT_TRUE(peer.file("refused", "x"));
    EXPECT_EQ(peer.receipt().value_or(parcel_receipt{}).reason, receipt_reason::receipt_off);

    ASSERT_TRUE(delete_profile(s_pBob->settings(), refused.name));
    (void)peer.file("deleted", "x");
    EXPECT_FALSE(peer.receipt().has_value()) << "the stream ends without a word";
    EXPECT_TRUE(m_pListener->wait_for_output("the sender is no longer a friend", 10000));
    EXPECT_EQ(tree_of(box()).size(), 1U);

    ASSERT_TRUE(save_profile(s_pBob->settings(), s_pAlice->as_friend(all_session_key_types, true)));
    hostile_sender garbled(*s_pAlice, *s_pBob, m_nPort);
    ASSERT_TRUE(garbled.ready() && garbled.link().send(std::vector<std::uint8_t>{0x7F, 0, 0, 0, 0}));
    EXPECT_FALSE(garbled.receipt().has_value());
    EXPECT_TRUE(m_pListener->wait_for_output(
        "STATUS_ERROR [6]: the sender's stream held a malformed frame, or bytes it did not seal", 10000))
        << m_pListener->output();
}

} // namespace
} // namespace tiv::test
