#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "crypto/negotiating_authentycryptor.h"
#include "net/kept_part.h"
#include "net/parcel_frames.h"
#include "net/parcel_link.h"
#include "net/parcel_names.h"
#include "net/parcel_receipt.h"
#include "net/socket_link.h"
#include "transfer_fixture.h"

namespace tiv::test {
namespace {

using version = negotiating_authentycryptor::version;
constexpr std::uint64_t large = 2 * min_kept_file_size;
constexpr std::uint32_t largest_file = 8 * 1024 * 1024;

// A parcel stream sender played by hand, as Alice: whatever it leaves unsaid when it ends, the connection breaks.
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
    // The next frame's payload when it is of `type`.
    std::optional<std::vector<std::uint8_t>> expect(frame_type type) {
        frame_type got{};
        std::span<const std::uint8_t> payload;
        if (m_oLink->receive(got, payload, 10000) != parcel_link::arrival::frame || got != type) {
            return std::nullopt;
        }
        return std::vector<std::uint8_t>(payload.begin(), payload.end());
    }
    // Announces a resumable file, takes the receiver's offer and starts it from nothing with `data`.
    bool start_file(const std::string& path, std::uint64_t size, std::size_t data) {
        const std::vector<std::uint8_t> bytes = pattern_bytes(data, 7);
        return send(frame_type::file, encode_file({.path = path, .size = size, .mtime_ns = 1, .resumable = true})) &&
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
        // A stored pin is not replaced by saving.
        ASSERT_TRUE(delete_profile(s_pBob->settings(), "Alice"));
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
        ASSERT_TRUE(m_pListener->listening());
        std::filesystem::create_directories(alice_box());
    }
    void TearDown() override {
        (void)delete_profile(s_pBob->settings(), "Alice");
        transfer_test::TearDown();
    }

    std::unique_ptr<stream_peer> peer() {
        auto made = std::make_unique<stream_peer>(*s_pAlice, *s_pBob, m_pListener->listening_address());
        EXPECT_TRUE(made->ready());
        return made;
    }
    [[nodiscard]] std::vector<std::string> kept_parts() const {
        std::vector<std::string> parts = names_in(alice_box());
        std::erase_if(parts, [](const std::string& name) { return !is_kept_part_name(name); });
        return parts;
    }
    // A part as an earlier transfer left it, `days` old.
    void leave_part(const std::string& key, std::uint64_t size, int days) {
        const std::string path = alice_box() + "/" + kept_part_name(key);
        const unique_fd part(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        ASSERT_TRUE(part && ::ftruncate(part.get(), static_cast<off_t>(size)) == 0) << path;
        timespec times[2] = {};
        times[0].tv_sec = times[1].tv_sec = ::time(nullptr) - days * 86400L;
        ASSERT_EQ(::futimens(part.get(), times), 0);
    }
    std::size_t m_nConnections = 0;
    bool finished() { return wait_received(++m_nConnections); }
};

TEST_F(KeptParts, OnlyALargeFileCutOffByABrokenConnectionLeavesItsPart) {
    {
        // The sender calls a small file resumable; the receiver keeps nothing of it all the same.
        auto alice = peer();
        ASSERT_TRUE(alice->start_file("small.bin", min_kept_file_size - 1, 1000));
    }
    ASSERT_TRUE(finished());
    {
        auto alice = peer();
        ASSERT_TRUE(alice->start_file("ended.bin", large, 300'000));
        ASSERT_TRUE(alice->send(frame_type::file_end, encode_file_end({.complete = false, .whole_hash = {}})));
        ASSERT_TRUE(alice->expect(frame_type::receipt));
    }
    ASSERT_TRUE(finished());
    {
        auto alice = peer();
        ASSERT_TRUE(alice->send(frame_type::file,
                                encode_file({.path = "bad.bin", .size = large, .mtime_ns = 1, .resumable = true})));
        ASSERT_TRUE(alice->expect(frame_type::offer));
        ASSERT_TRUE(alice->send(frame_type::resume, encode_resume(12345)));
    }
    ASSERT_TRUE(finished());
    EXPECT_TRUE(kept_parts().empty()) << kept_parts().front();
    EXPECT_TRUE(m_oLog.contains("R::Parcel stream refused [Alice]: a resume at a place that was not offered"));

    {
        auto alice = peer();
        ASSERT_TRUE(alice->start_file("cut.bin", large, 300'000));
    }
    ASSERT_TRUE(finished());
    ASSERT_EQ(kept_parts().size(), 1U);
    EXPECT_EQ(std::filesystem::file_size(alice_box() + "/" + kept_parts().front()), 300'000U);
    const auto lines = m_oLog.lines();
    EXPECT_TRUE(std::ranges::any_of(lines, [](const std::string& line) {
        return line.find("KEPT[") != std::string::npos &&
               line.ends_with(": 300000 of 2097152 bytes, for the next send");
    }));
}

TEST_F(KeptParts, ABoxKeepsEightAndANewOneReplacesTheOldestAndAnyOverTheLimit) {
    for (int days = 1; days <= 8; ++days) {
        leave_part(std::string(31, 'a') + std::to_string(days), 1000, days);
    }
    const std::string oversized = kept_part_name(std::string(32, 'b'));
    leave_part(std::string(32, 'b'), largest_file + 1, 0);
    {
        auto alice = peer();
        ASSERT_TRUE(alice->start_file("cut.bin", large, 1000));
    }
    ASSERT_TRUE(finished());
    const std::vector<std::string> parts = kept_parts();
    EXPECT_EQ(parts.size(), max_kept_parts);
    EXPECT_EQ(std::ranges::count(parts, kept_part_name(std::string(31, 'a') + "8")), 0) << "the oldest went";
    EXPECT_EQ(std::ranges::count(parts, kept_part_name(std::string(31, 'a') + "7")), 1);
    EXPECT_EQ(std::ranges::count(parts, oversized), 0);
}

TEST_F(KeptParts, ARefusedFolderTakesBackTheDirectoriesItMade) {
    {
        auto alice = peer();
        ASSERT_TRUE(
            alice->send(frame_type::folder, encode_folder({.name = "E_x", .files = 1, .directories = 3, .bytes = 1})));
        for (const char* directory : {"dir", "dir/sub", "../bad"}) {
            ASSERT_TRUE(alice->send(frame_type::directory, encode_directory(directory)));
        }
        const auto answer = alice->expect(frame_type::receipt);
        ASSERT_TRUE(answer);
        parcel_receipt receipt;
        std::size_t used = 0;
        ASSERT_EQ(decode_receipt(*answer, receipt, used), receipt_parse::complete);
        EXPECT_FALSE(receipt.stored());
    }
    ASSERT_TRUE(finished());
    EXPECT_TRUE(names_in(alice_box()).empty()) << names_in(alice_box()).front();
}

} // namespace
} // namespace tiv::test
