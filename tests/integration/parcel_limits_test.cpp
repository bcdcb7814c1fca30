#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

#include "crypto/negotiating_authentycryptor.h"
#include "crypto/session_key_types.h"
#include "net/parcel_frames.h"
#include "net/parcel_link.h"
#include "net/parcel_receipt.h"
#include "net/socket_link.h"
#include "peer_pair.h"
#include "peer_process.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"

namespace tiv::test {
namespace {

namespace fs = std::filesystem;
using version = negotiating_authentycryptor::version;

// Alice's side of one parcel stream to Bob, its frames written by hand so several can be held half way at once.
class stream_peer {
public:
    stream_peer(test_identity& alice, test_identity& bob, int port)
        : m_oCipher(alice.provider(), alice.settings(), version::with_stream) {
        net_address destination{};
        m_bReady = resolve_address("127.0.0.1", static_cast<std::uint16_t>(port), destination) &&
                   open_tcp_socket(m_oSocket) && connect_socket(m_oSocket, destination);
        socket_link link(m_oSocket);
        m_bReady = m_bReady && m_oCipher.AuthenticateAsSender(link, bob.as_friend(all_session_key_types, true)) &&
                   m_oCipher.carries_parcel_stream();
        m_pLink = std::make_unique<parcel_link>(m_oSocket, m_oCipher);
    }
    ~stream_peer() { close_socket(m_oSocket); }
    stream_peer(const stream_peer&) = delete;
    stream_peer& operator=(const stream_peer&) = delete;

    [[nodiscard]] bool ready() const { return m_bReady; }

    // The receiver's next receipt; none when the connection ended instead.
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

    // The header of a file of `size` bytes and its first byte; the rest follows with finish().
    bool start(const std::string& path, std::size_t size) {
        std::vector<std::uint8_t> plain;
        append_frame(plain, frame_type::file, encode_file({.path = path, .size = size, .resumable = false}));
        append_frame(plain, frame_type::data, std::vector<std::uint8_t>{'x'});
        return m_pLink->send(plain);
    }
    bool finish(std::size_t rest) {
        std::vector<std::uint8_t> plain;
        append_frame(plain, frame_type::data, std::vector<std::uint8_t>(rest, 'y'));
        append_frame(plain, frame_type::file_end, encode_file_end({.complete = true, .whole_hash = std::nullopt}));
        return m_pLink->send(plain);
    }
    bool file(const std::string& path) { return start(path, 1) && finish(0); }
    bool raw(const std::vector<std::uint8_t>& plain) { return m_pLink->send(plain); }

private:
    net_socket m_oSocket;
    negotiating_authentycryptor m_oCipher;
    std::unique_ptr<parcel_link> m_pLink;
    bool m_bReady = false;
};

// Bob listens as a real quorvel-cli process and takes at most ten entries from Alice.
class ParcelLimits : public peer_pair_test {
protected:
    static constexpr std::uint32_t limit = 10;

    void SetUp() override {
        peer_pair_test::SetUp();
        fs::remove_all(box());
        for (auto [person, other] : {std::pair{s_pAlice, s_pBob}, std::pair{s_pBob, s_pAlice}}) {
            friend_profile profile = other->as_friend(all_session_key_types, true);
            profile.receipt_enabled = 1;
            profile.max_file_count = limit;
            (void)delete_profile(person->settings(), profile.name);
            ASSERT_TRUE(save_profile(person->settings(), profile));
        }
        m_nPort = free_loopback_port();
        ASSERT_TRUE(write_dword_setting(s_pBob->settings().machine_key(), names::interface_ip_port,
                                        static_cast<std::uint32_t>(m_nPort)));
        m_pListener = std::make_unique<peer_process>(s_pBob->home(), std::vector<std::string>{"listen"},
                                                     m_strWork + "/listen.out");
        ASSERT_TRUE(m_pListener->wait_for_output("Listening on 127.0.0.1:" + std::to_string(m_nPort), 15000));
    }

    [[nodiscard]] static std::string box() { return s_pBob->home() + "/PBoxes/Alice"; }
    [[nodiscard]] static std::size_t entries_in_box() {
        std::size_t entries = 0;
        for (auto it = fs::recursive_directory_iterator(box()); it != fs::recursive_directory_iterator(); ++it) {
            ++entries;
        }
        return entries;
    }
    [[nodiscard]] std::size_t log_lines(const std::string& text) const {
        const std::string log = m_pListener->output();
        std::size_t count = 0;
        for (std::size_t at = 0; (at = log.find(text, at)) != std::string::npos; ++at) {
            ++count;
        }
        return count;
    }

    std::unique_ptr<peer_process> m_pListener;
    int m_nPort = 0;
};

TEST_F(ParcelLimits, ParallelConnectionsStayWithinTheCount) {
    // Every file is under way at once: none is in the box when the others ask for room.
    constexpr std::size_t connections = 24;
    std::vector<std::unique_ptr<stream_peer>> peers;
    for (std::size_t i = 0; i < connections; ++i) {
        peers.push_back(std::make_unique<stream_peer>(*s_pAlice, *s_pBob, m_nPort));
        ASSERT_TRUE(peers.back()->ready()) << i;
        ASSERT_TRUE(peers.back()->start("file" + std::to_string(i), 2));
    }
    (void)wait_for([&] { return log_lines("R::Parcel refused [Alice]") >= connections - limit; },
                   std::chrono::seconds(20));
    std::size_t stored = 0;
    for (auto& peer : peers) {
        ASSERT_TRUE(peer->finish(1));
        const auto answer = peer->receipt();
        ASSERT_TRUE(answer.has_value());
        stored += answer->stored() ? 1 : 0;
    }
    EXPECT_EQ(stored, limit);
    EXPECT_EQ(entries_in_box(), limit);
}

TEST_F(ParcelLimits, FoldersCountWithTheirDirectoriesAndAgainstEachOther) {
    // Room for one more folder of three files, counted with its own directory; its directories count too.
    std::vector<std::unique_ptr<stream_peer>> peers;
    stream_peer first(*s_pAlice, *s_pBob, m_nPort);
    ASSERT_TRUE(first.ready());
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(first.file("loose" + std::to_string(i)));
        ASSERT_TRUE(first.stored()) << i;
    }
    stream_peer empty_directories(*s_pAlice, *s_pBob, m_nPort);
    ASSERT_TRUE(empty_directories.ready() && empty_directories.folder("Empty", 0, 4));
    EXPECT_FALSE(empty_directories.stored());
    std::size_t folders = 0;
    for (int i = 0; i < 4; ++i) {
        peers.push_back(std::make_unique<stream_peer>(*s_pAlice, *s_pBob, m_nPort));
        ASSERT_TRUE(peers.back()->ready() && peers.back()->folder("F" + std::to_string(i), 3, 0));
    }
    for (auto& peer : peers) {
        if (peer->stored()) {
            ++folders;
            for (int i = 0; i < 3; ++i) {
                ASSERT_TRUE(peer->file("f" + std::to_string(i)));
                EXPECT_TRUE(peer->stored());
            }
        }
    }
    EXPECT_EQ(folders, 1U);
    EXPECT_EQ(entries_in_box(), limit);
}

TEST_F(ParcelLimits, ARevokedFriendsOpenStreamStopsAtTheNextFile) {
    stream_peer peer(*s_pAlice, *s_pBob, m_nPort);
    ASSERT_TRUE(peer.ready());
    ASSERT_TRUE(peer.file("before"));
    ASSERT_TRUE(peer.stored());

    friend_profile refused = s_pAlice->as_friend(all_session_key_types, true);
    refused.receipt_enabled = 0;
    ASSERT_TRUE(save_profile(s_pBob->settings(), refused));
    ASSERT_TRUE(peer.file("refused"));
    const auto answer = peer.receipt();
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->reason, receipt_reason::receipt_off);

    ASSERT_TRUE(delete_profile(s_pBob->settings(), refused.name));
    (void)peer.file("deleted");
    EXPECT_FALSE(peer.receipt().has_value()) << "the stream ends without a word";
    EXPECT_TRUE(m_pListener->wait_for_output("the sender is no longer a friend", 10000)) << m_pListener->output();
    EXPECT_EQ(entries_in_box(), 1U);
}

TEST_F(ParcelLimits, AMalformedFrameEndsTheStreamWithItsReasonInTheLog) {
    stream_peer peer(*s_pAlice, *s_pBob, m_nPort);
    ASSERT_TRUE(peer.ready());
    ASSERT_TRUE(peer.raw({0x7F, 0, 0, 0, 0}));
    EXPECT_FALSE(peer.receipt().has_value());
    EXPECT_TRUE(m_pListener->wait_for_output(
        "STATUS_ERROR [6]: the sender's stream held a malformed frame, or bytes it did not seal", 10000))
        << m_pListener->output();
}

} // namespace
} // namespace tiv::test
