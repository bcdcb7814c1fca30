#include <algorithm>
#include <arpa/inet.h>
#include <dirent.h>
#include <functional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include "crypto/auth_records.h"
#include "crypto/negotiating_authentycryptor.h"
#include "net/single_file/file_record.h"
#include "net/socket/admission_gate.h"
#include "platform/uuid.h"
#include "transfer_fixture.h"

namespace tiv::test {
namespace {

using namespace std::chrono_literals;

// A connection the test drives byte by byte; closed with a reset so no drain waits on a listener that has gone.
struct raw_client {
    // `source`, when given, is the loopback address the connection comes from (host order, e.g. 127.0.0.2).
    explicit raw_client(const net_address& where, std::uint32_t source = 0) {
        connected = open_tcp_socket(socket) && set_receive_timeout(socket, 10000) && set_send_timeout(socket, 10000) &&
                    (source == 0 || bind_source(source)) && connect_socket(socket, where);
    }
    bool bind_source(std::uint32_t source) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(source);
        return ::bind(socket.handle, reinterpret_cast<const sockaddr*>(&from), sizeof from) == 0;
    }
    raw_client(const raw_client&) = delete;
    raw_client& operator=(const raw_client&) = delete;
    ~raw_client() {
        if (socket.handle >= 0) {
            const linger abort_at_once{1, 0};
            ::setsockopt(socket.handle, SOL_SOCKET, SO_LINGER, &abort_at_once, sizeof abort_at_once);
            ::close(socket.handle);
            socket.handle = -1;
        }
    }
    template <typename Bytes> bool send_prefix(const Bytes& bytes, std::size_t count) {
        return send_all(socket, bytes.data(), static_cast<int>(count)).ok();
    }
    // True once the listener has closed or reset its end (checked without waiting).
    bool closed_by_peer() {
        pollfd waiting{socket.handle, POLLIN, 0};
        if (::poll(&waiting, 1, 0) <= 0) {
            return false;
        }
        char scratch[64];
        return ::recv(socket.handle, scratch, sizeof scratch, MSG_DONTWAIT) <= 0;
    }

    net_socket socket;
    bool connected = false;
};

auth::cap_bytes offer_from(const test_identity& sender, std::uint32_t types, bool tls) {
    auth::cap_record cap;
    cap.key_types = types;
    cap.user_uuid = uuid_to_guid_bytes(*uuid_from_text(sender.uuid()));
    if (tls) {
        const exchange_marker::bytes marker = exchange_marker::of(exchange_marker::side::sender, 1);
        std::copy(marker.begin(), marker.end(), cap.reserved.begin());
    }
    return cap.encode();
}

constexpr int stall_timeout_ms = 400;

// Peers that stop in the middle of a record. The listener's time-out is short and its single slot must come back,
// so every case ends with a real transfer through the same listener.
class StalledPeer : public transfer_test {
protected:
    incoming_connection_handler& listen_with_one_slot() {
        incoming_connection_handler& listener = listen(2048, 1);
        listener.io_timeout_ms = stall_timeout_ms;
        return listener;
    }

    // The last bytes went out just now: the transfer must still wait a while, then give up with `status` in
    // `state`, close the connection, end its thread and free the slot.
    void expect_given_up(incoming_connection_handler& listener, const std::function<bool()>& closed_by_peer,
                         transfer_status status, transfer_state state) {
        ASSERT_TRUE(wait_for([&] { return listener.size() == 1; }, 5s));
        EXPECT_FALSE(wait_for([&] { return received(0).finished; }, std::chrono::milliseconds(stall_timeout_ms / 2)))
            << "gave up before its time-out";
        ASSERT_TRUE(wait_for([&] { return received(0).finished; }, 5s)) << "the time-out never fired";
        const transfer_view stalled = received(0);
        EXPECT_TRUE(stalled.failed);
        EXPECT_EQ(stalled.status, status);
        EXPECT_EQ(stalled.state, state);
        EXPECT_TRUE(wait_for(closed_by_peer, 2s)) << "the connection was left open";
    }

    void expect_slot_free_and_box_empty(incoming_connection_handler& listener) {
        EXPECT_TRUE(names_in(alice_box()).empty()) << "something of the stalled parcel was stored";
        if (HasFatalFailure()) {
            return;
        }
        const std::string after = make_file("after.bin", 3000, 9);
        const std::size_t before = listener.size();
        const auto sent = send_file(after);
        ASSERT_TRUE(wait_sent(10s));
        ASSERT_TRUE(wait_received(before + 1, 10s));
        EXPECT_FALSE(sent->snapshot().failed) << "the slot of the stalled transfer did not come back";
        EXPECT_EQ(read_all(alice_box() + "/after.bin"), read_all(after));
        EXPECT_EQ(names_in(alice_box()).size(), 1U);
    }
};

TEST_F(StalledPeer, InTheCapabilityRecord) {
    incoming_connection_handler& listener = listen_with_one_slot();
    raw_client peer(listener.listening_address());
    ASSERT_TRUE(peer.connected);
    ASSERT_TRUE(peer.send_prefix(offer_from(*s_pAlice, 0xE40, false), 60));
    expect_given_up(
        listener, [&] { return peer.closed_by_peer(); }, transfer_status::authentication,
        transfer_state::authenticating);
    expect_slot_free_and_box_empty(listener);
    EXPECT_EQ(m_oLog.count_starting_with("R::Authenticating FAILED->bad recv oSessionKeyCapRecord"), 1U);
}

TEST_F(StalledPeer, InAPassRecordOfTheOldExchange) {
    incoming_connection_handler& listener = listen_with_one_slot();
    raw_client peer(listener.listening_address());
    ASSERT_TRUE(peer.connected);
    const auth::cap_bytes offer = offer_from(*s_pAlice, 0x800, false);
    ASSERT_TRUE(peer.send_prefix(offer, offer.size()));
    auth::cap_bytes answer{};
    ASSERT_TRUE(receive_all(peer.socket, static_cast<int>(answer.size()), answer.data()));
    EXPECT_EQ(auth::cap_record::decode(answer).key_types, 0x800U) << "the exchange went on to its passes";
    auth::pass_record first;
    first.pass = 1;
    ASSERT_TRUE(peer.send_prefix(first.encode(), 3000)); // past block A, into block B
    expect_given_up(
        listener, [&] { return peer.closed_by_peer(); }, transfer_status::authentication,
        transfer_state::authenticating);
    expect_slot_free_and_box_empty(listener);
}

TEST_F(StalledPeer, InTheFileRecord) {
    incoming_connection_handler& listener = listen_with_one_slot();
    manual_peer authenticated(*s_pAlice, m_oBobProfile, listener.listening_address());
    ASSERT_TRUE(authenticated.authenticated());
    file_record record;
    record.set_name("never.bin");
    record.file_size = 10;
    const auto header = record.encode();
    const std::vector<std::uint8_t> sealed =
        authenticated.encrypt(std::vector<std::uint8_t>(header.begin(), header.end()), true);
    ASSERT_GT(sealed.size(), 2U);
    ASSERT_TRUE(authenticated.send_raw(std::vector<std::uint8_t>(sealed.begin(), sealed.begin() + sealed.size() / 2)));
    expect_given_up(
        listener, [&] { return authenticated.peer_closed_within(0ms); }, transfer_status::receive,
        transfer_state::getting_file_record);
    EXPECT_TRUE(names_in(m_strRoot).empty()) << "no parcel box is made for a record that never came";
    expect_slot_free_and_box_empty(listener);
}

TEST_F(StalledPeer, InTheDataAfterTheTemporaryFileWasMade) {
    incoming_connection_handler& listener = listen_with_one_slot();
    manual_peer peer(*s_pAlice, m_oBobProfile, listener.listening_address());
    ASSERT_TRUE(peer.authenticated());
    ASSERT_TRUE(peer.send_record("stalled.bin", 100000));
    ASSERT_TRUE(peer.send_data(pattern_bytes(30000, 2), false));
    ASSERT_TRUE(wait_for([&] { return listener.size() == 1 && received(0).bytes_done > 0; }, 5s));
    EXPECT_EQ(names_in(alice_box()).size(), 1U) << "the temporary file exists while data arrives";
    expect_given_up(
        listener, [&] { return peer.peer_closed_within(0ms); }, transfer_status::receive, transfer_state::completed);
    expect_slot_free_and_box_empty(listener);
}

// A pinned friend runs the TLS exchange: a handshake record that stops halfway must time out the same way.
class StalledTlsPeer : public StalledPeer {
protected:
    void TearDown() override {
        (void)delete_profile(s_pBob->settings(), "Alice"); // a stored pin is not replaced by saving
        StalledPeer::TearDown();
    }
};

TEST_F(StalledTlsPeer, InAHandshakeRecord) {
    ASSERT_TRUE(delete_profile(s_pBob->settings(), "Alice"));
    friend_profile pinned = s_pAlice->as_friend(aes_session_key_types, true);
    pinned.receipt_enabled = 1;
    ASSERT_TRUE(save_profile(s_pBob->settings(), pinned));
    net_address local;
    ASSERT_TRUE(resolve_address("127.0.0.1", 0, local));
    m_pListener = std::make_unique<incoming_connection_handler>(
        m_strRoot, local, 2048, std::make_shared<negotiating_authentycryptor>(s_pBob->provider(), s_pBob->settings()),
        1);
    ASSERT_TRUE(m_pListener->listening());
    m_pListener->io_timeout_ms = stall_timeout_ms;

    raw_client peer(m_pListener->listening_address());
    ASSERT_TRUE(peer.connected);
    const auth::cap_bytes offer = offer_from(*s_pAlice, aes_session_key_types, true);
    ASSERT_TRUE(peer.send_prefix(offer, offer.size()));
    auth::cap_bytes answer{};
    ASSERT_TRUE(receive_all(peer.socket, static_cast<int>(answer.size()), answer.data()));
    const exchange_marker::bytes tls = exchange_marker::of(exchange_marker::side::receiver, 1);
    ASSERT_TRUE(std::equal(tls.begin(), tls.end(), auth::cap_record::decode(answer).reserved.begin()))
        << "the listener did not choose the TLS exchange";
    // A handshake record header announcing 512 bytes, and only 100 of them.
    std::vector<std::uint8_t> partial = {0x16, 0x03, 0x01, 0x02, 0x00};
    partial.resize(partial.size() + 100, 0x01);
    ASSERT_TRUE(peer.send_prefix(partial, partial.size()));
    expect_given_up(
        *m_pListener, [&] { return peer.closed_by_peer(); }, transfer_status::authentication,
        transfer_state::authenticating);
    EXPECT_TRUE(
        m_oLog.contains("R::Authenticating FAILED->TLS handshake: the connection ended during the TLS handshake"));
    EXPECT_TRUE(names_in(m_strRoot).empty());
}

// A peer that sends one byte just inside every time-out never lets a single receive wait out its limit. Before
// it is authenticated such a peer costs nothing to run, so the exchange as a whole needs a limit, or a few dozen
// of them hold every slot of the listener for as long as they like.
TEST_F(StalledPeer, TricklingPeerIsDroppedWithinALimitForTheWholeExchange) {
    incoming_connection_handler& listener = listen_with_one_slot();
    raw_client peer(listener.listening_address());
    ASSERT_TRUE(peer.connected);
    const auth::cap_bytes offer = offer_from(*s_pAlice, 0xE40, false);
    ASSERT_TRUE(wait_for([&] { return listener.size() == 1; }, 5s));
    const auto finished = [&] { return received(0).finished; };
    // One byte every half time-out: 30 of them take 15 time-outs, far past any sensible limit for 152 bytes.
    std::size_t sent = 0;
    while (sent < 30 && !finished()) {
        ASSERT_TRUE(peer.send_prefix(std::span(offer.data() + sent, 1), 1) || finished());
        ++sent;
        (void)wait_for(finished, std::chrono::milliseconds(stall_timeout_ms / 2));
    }
    EXPECT_TRUE(finished()) << "still holding its slot after " << sent << " bytes";
    EXPECT_LT(sent, 30U);
}

// Connections that never speak, from many other loopback addresses, far more than the listener lets wait, with a
// friend's transfer among them.
class SilentFlood : public transfer_test {
protected:
    static std::size_t thread_count() {
        std::size_t count = 0;
        if (DIR* tasks = ::opendir("/proc/self/task")) {
            while (const dirent* entry = ::readdir(tasks)) {
                count += entry->d_name[0] != '.' ? 1 : 0;
            }
            ::closedir(tasks);
        }
        return count;
    }
    // Both ends of every connection live in this process.
    static void allow_descriptors(rlim_t wanted) {
        rlimit files{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &files), 0);
        files.rlim_cur = std::max(files.rlim_cur, std::min(wanted, files.rlim_max));
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &files), 0);
        ASSERT_GE(files.rlim_cur, wanted) << "the test needs more descriptors than the hard limit allows";
    }
};

TEST_F(SilentFlood, AFriendGetsThroughWhileStrangersAreCappedAndTimedOut) {
    constexpr std::size_t silent_count = 500;
    constexpr std::uint32_t first_stranger = 0x7F000002; // 127.0.0.2; 127.0.0.1 is the friend's
    allow_descriptors(4 * silent_count);
    incoming_connection_handler& listener = listen(); // the default time-outs
    const std::size_t threads_before = thread_count();
    const std::string real = make_file("real.bin", 1 << 20, 7);

    std::vector<std::unique_ptr<raw_client>> silent;
    for (std::size_t i = 0; i < silent_count; ++i) {
        silent.push_back(std::make_unique<raw_client>(listener.listening_address(), first_stranger + i % 254));
        ASSERT_TRUE(silent.back()->connected) << i;
    }
    // Let the listener take in the flood before the friend comes: every address's first connection is heard.
    std::size_t most_threads = 0;
    ASSERT_TRUE(wait_for(
        [&] {
            most_threads = std::max(most_threads, thread_count());
            return listener.size() >= 254;
        },
        5s));
    const auto sent_at = std::chrono::steady_clock::now();
    const std::shared_ptr<socket_thread> sent = send_file(real);
    ASSERT_TRUE(wait_for(
        [&] {
            most_threads = std::max(most_threads, thread_count());
            return sent->snapshot().finished;
        },
        10s));
    const auto took = std::chrono::steady_clock::now() - sent_at;
    EXPECT_FALSE(sent->snapshot().failed) << sent->snapshot().status_text;
    EXPECT_LT(took, 3s) << "the friend waited behind strangers";
    EXPECT_EQ(read_all(alice_box() + "/real.bin"), read_all(real));
    // Not one thread per stranger: the phase before authentication is capped. Those that lost their place to a
    // newcomer may still be on their way out, hence twice the cap.
    EXPECT_LE(most_threads, threads_before + 2 * admission_gate::limits{}.full);

    // Every stranger is let go within the authentication deadline, not the friend's time-out.
    EXPECT_TRUE(wait_for(
        [&] { return std::all_of(silent.begin(), silent.end(), [](auto& c) { return c->closed_by_peer(); }); }, 8s))
        << "a silent connection was left open";
    EXPECT_TRUE(wait_for([&] { return listener.running_count() == 0; }, 5s));
    EXPECT_TRUE(wait_for([&] { return thread_count() <= threads_before; }, 5s)) << thread_count();
}

} // namespace
} // namespace tiv::test
