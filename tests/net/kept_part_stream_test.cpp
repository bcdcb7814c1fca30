#include <algorithm>
#include <functional>
#include <optional>
#include <thread>

#include "crypto/negotiating_authentycryptor.h"
#include "net/box/kept_part.h"
#include "net/box/parcel_names.h"
#include "net/socket/socket_link.h"
#include "net/stream/parcel_frames.h"
#include "net/stream/parcel_link.h"
#include "transfer_fixture.h"

namespace tiv::test {
namespace {

using version = negotiating_authentycryptor::version;
using namespace std::chrono_literals;
constexpr std::uint64_t large = 2 * min_kept_file_size;
constexpr std::uint32_t largest_file = 8 * 1024 * 1024;

// Alice's side of a parcel stream, played by hand: whatever it leaves unsaid when it ends, the connection breaks.
class stream_peer {
public:
    stream_peer(test_identity& alice, test_identity& bob, const net_address& where)
        : m_oCipher(alice.provider(), alice.settings(), version::with_stream) {
        socket_link plain(m_oSocket);
        m_bReady = open_tcp_socket(m_oSocket) && connect_socket(m_oSocket, where) &&
                   m_oCipher.AuthenticateAsSender(plain, bob.as_friend(all_session_key_types, true)) &&
                   m_oCipher.carries_parcel_stream();
        m_oLink.emplace(m_oSocket, m_oCipher);
    }
    stream_peer(const stream_peer&) = delete;
    stream_peer& operator=(const stream_peer&) = delete;
    ~stream_peer() { close_socket(m_oSocket); }

    [[nodiscard]] bool ready() const { return m_bReady; }
    bool send(frame_type type, std::span<const std::uint8_t> payload) { return m_oLink->send_frame(type, payload); }
    bool expect(frame_type type) {
        frame_type got{};
        std::span<const std::uint8_t> payload;
        return m_oLink->receive(got, payload, 10000) == parcel_link::arrival::frame && got == type;
    }
    // Announces a resumable file, takes the receiver's offer and starts it from nothing with `data`.
    bool start_file(const std::string& path, std::uint64_t size, std::size_t data) {
        const std::vector<std::uint8_t> bytes = pattern_bytes(data, 7);
        return send(frame_type::file, encode_file({.path = path, .size = size, .resumable = true})) &&
               expect(frame_type::offer) && send(frame_type::resume, encode_resume(0)) && send(frame_type::data, bytes);
    }

private:
    net_socket m_oSocket;
    negotiating_authentycryptor m_oCipher;
    std::optional<parcel_link> m_oLink;
    bool m_bReady = false;
};

class KeptParts : public transfer_test {
protected:
    void SetUp() override {
        transfer_test::SetUp();
        ASSERT_TRUE(delete_profile(s_pBob->settings(), "Alice")); // a stored pin is not replaced by saving
        friend_profile pinned = s_pAlice->as_friend(all_session_key_types, true);
        pinned.receipt_enabled = 1;
        pinned.max_file_size = largest_file;
        ASSERT_TRUE(save_profile(s_pBob->settings(), pinned));
        net_address local;
        ASSERT_TRUE(resolve_address("127.0.0.1", 0, local));
        m_pListener = std::make_unique<incoming_connection_handler>(
            m_strRoot, local, 2048,
            std::make_shared<negotiating_authentycryptor>(s_pBob->provider(), s_pBob->settings(),
                                                          version::with_stream));
        std::filesystem::create_directories(alice_box());
    }
    void TearDown() override {
        (void)delete_profile(s_pBob->settings(), "Alice");
        transfer_test::TearDown();
    }

    // Runs `talk` as Alice on a connection of its own, drops it, and waits until Bob is done with it.
    void connection(const std::function<void(stream_peer&)>& talk) {
        {
            stream_peer alice(*s_pAlice, *s_pBob, m_pListener->listening_address());
            ASSERT_TRUE(alice.ready());
            talk(alice);
        }
        ASSERT_TRUE(wait_received(++m_nConnections));
    }
    [[nodiscard]] std::vector<std::string> kept_parts() const {
        std::vector<std::string> parts = names_in(alice_box());
        std::erase_if(parts, [](const std::string& name) { return !is_kept_part_name(name); });
        return parts;
    }
    std::string leave_part(char key, std::uint64_t size, int days) {
        const std::string path = alice_box() + "/" + kept_part_name(std::string(32, key));
        std::ofstream{path};
        std::filesystem::resize_file(path, size);
        std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - days * 24h);
        return kept_part_name(std::string(32, key));
    }
    std::size_t m_nConnections = 0;
};

TEST_F(KeptParts, OnlyALargeFileCutOffByABrokenConnectionLeavesItsPartAndTheOldestMakesRoom) {
    // The sender calls a small file resumable; the receiver keeps nothing of it all the same.
    connection([](stream_peer& alice) { ASSERT_TRUE(alice.start_file("small.bin", min_kept_file_size - 1, 1000)); });
    connection([](stream_peer& alice) {
        ASSERT_TRUE(alice.start_file("ended.bin", large, 300'000));
        ASSERT_TRUE(alice.send(frame_type::file_end, encode_file_end({.complete = false, .whole_hash = {}})));
        ASSERT_TRUE(alice.expect(frame_type::receipt));
    });
    connection([](stream_peer& alice) {
        ASSERT_TRUE(alice.send(frame_type::file, encode_file({.path = "b", .size = large, .resumable = true})));
        ASSERT_TRUE(alice.expect(frame_type::offer));
        ASSERT_TRUE(alice.send(frame_type::resume, encode_resume(12345)));
    });
    EXPECT_TRUE(kept_parts().empty()) << kept_parts().front();
    EXPECT_TRUE(m_oLog.contains("R::Parcel stream refused [Alice]: a resume at a place that was not offered"));

    std::vector<std::string> left;
    for (int days = 1; days <= 8; ++days) {
        left.push_back(leave_part(static_cast<char>('0' + days), 1000, days));
    }
    const std::string oversized = leave_part('f', largest_file + 1, 0);
    connection([](stream_peer& alice) { ASSERT_TRUE(alice.start_file("cut.bin", large, 300'000)); });
    const std::vector<std::string> parts = kept_parts();
    EXPECT_EQ(parts.size(), max_kept_parts);
    EXPECT_EQ(std::ranges::count(parts, left.back()), 0) << "the oldest makes room";
    EXPECT_EQ(std::ranges::count(parts, left.front()), 1);
    EXPECT_EQ(std::ranges::count(parts, oversized), 0) << "over the friend's largest file";
    const auto lines = m_oLog.lines();
    EXPECT_TRUE(std::ranges::any_of(lines, [](const std::string& line) {
        return line.find("KEPT[") != std::string::npos &&
               line.ends_with(": 300000 of 2097152 bytes, for the next send");
    }));
}

// A pause on the receiver's side keeps what arrived for the sender's next send; a cancel there keeps nothing.
TEST_F(KeptParts, AFilePausedByItsReceiverKeepsItsPartAndACancelledOneDoesNot) {
    using arrived_part = thread_bundle::arrived_part;
    for (const arrived_part part : {arrived_part::discard, arrived_part::keep}) {
        connection([&](stream_peer& alice) {
            ASSERT_TRUE(alice.start_file("paused.bin", large, 300'000));
            std::optional<std::uint64_t> arriving;
            for (int tries = 0; tries < 1000 && !arriving; ++tries) {
                for (const transfer_view& row : m_pListener->snapshots()) {
                    if (!row.finished && row.bytes_done == 300'000) {
                        arriving = row.id;
                    }
                }
                std::this_thread::sleep_for(10ms);
            }
            ASSERT_TRUE(arriving && m_pListener->stop_transfer(*arriving, part));
        });
        EXPECT_EQ(kept_parts().size(), part == arrived_part::keep ? 1U : 0U);
    }
}

TEST_F(KeptParts, ARefusedFolderTakesBackTheDirectoriesItMade) {
    connection([](stream_peer& alice) {
        ASSERT_TRUE(
            alice.send(frame_type::folder, encode_folder({.name = "E_x", .files = 1, .directories = 3, .bytes = 1})));
        for (const char* directory : {"dir", "dir/sub", "../bad"}) {
            ASSERT_TRUE(alice.send(frame_type::directory, encode_directory(directory)));
        }
        ASSERT_TRUE(alice.expect(frame_type::receipt));
    });
    EXPECT_TRUE(m_oLog.contains(
        "R::Parcel refused [Alice][E_x/]: a directory is refused: the path has a '.' or '..' component"));
    EXPECT_TRUE(names_in(alice_box()).empty()) << names_in(alice_box()).front();
}

} // namespace
} // namespace tiv::test
