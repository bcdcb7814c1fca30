#include <sys/socket.h>

#include "net/socket/socket_link.h"
#include "net/transfer/transfer_state.h"
#include "support/limited_disk.h"
#include "transfer_fixture.h"

namespace tiv::test {
namespace {

class TransferFaults : public transfer_test {
protected:
    bool log_has_line_ending(const std::string& tail) const {
        for (const std::string& line : m_oLog.lines()) {
            if (line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0) {
                return true;
            }
        }
        return false;
    }
};

// Nothing of a failed parcel may stay in the parcel box: no temporary file, nothing under a real name.
#define EXPECT_BOX_EMPTY() EXPECT_TRUE(names_in(alice_box()).empty()) << "left behind: " << names_in(alice_box()).size()

TEST_F(TransferFaults, SenderThatStopsMidFileIsAReceiveFailure) {
    incoming_connection_handler& listener = listen();
    const auto data = pattern_bytes(50000, 3);
    {
        // Valid pieces, but the message is never completed: the stream ends inside it.
        manual_peer peer(*s_pAlice, m_oBobProfile, listener.listening_address());
        ASSERT_TRUE(peer.authenticated());
        ASSERT_TRUE(peer.send_record("cut.bin", 50000));
        ASSERT_TRUE(peer.send_data(std::vector<std::uint8_t>(data.begin(), data.begin() + 20000), false));
        peer.half_close();
        ASSERT_TRUE(wait_received(1));
    }
    const transfer_view cut = received(0);
    EXPECT_TRUE(cut.failed);
    EXPECT_EQ(cut.status, transfer_status::receive);
    EXPECT_TRUE(log_has_line_ending("R:  STATUS_ERROR [6]"));
    EXPECT_BOX_EMPTY();
}

TEST_F(TransferFaults, CleanStreamOfTheWrongLengthIsAReceiveFailure) {
    incoming_connection_handler& listener = listen();
    const auto data = pattern_bytes(4000, 4);
    for (const std::uint32_t claimed : {3999U, 4001U}) {
        manual_peer peer(*s_pAlice, m_oBobProfile, listener.listening_address());
        ASSERT_TRUE(peer.authenticated());
        ASSERT_TRUE(peer.send_record("short.bin", claimed));
        ASSERT_TRUE(peer.send_data(data, true)); // a complete, well padded message of 4000 bytes
        peer.half_close();
        EXPECT_TRUE(peer.peer_closed_within(std::chrono::seconds(5)));
    }
    ASSERT_TRUE(wait_received(2));
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(received(i).status, transfer_status::receive);
        EXPECT_TRUE(received(i).failed);
    }
    EXPECT_BOX_EMPTY();
}

TEST_F(TransferFaults, TamperedLastBlockFailsTheCompletion) {
    bob_accepts_alice(0x800);
    incoming_connection_handler& listener = listen();
    manual_peer peer(*s_pAlice, m_oBobProfile, listener.listening_address());
    ASSERT_TRUE(peer.authenticated());
    ASSERT_TRUE(peer.send_record("tampered.bin", 100));
    std::vector<std::uint8_t> sealed = peer.encrypt(pattern_bytes(100, 5), true);
    sealed.back() ^= 0x01;
    ASSERT_TRUE(peer.send_raw(sealed));
    peer.half_close();
    ASSERT_TRUE(wait_received(1));
    EXPECT_EQ(received(0).status, transfer_status::receive);
    EXPECT_BOX_EMPTY();
}

TEST_F(TransferFaults, RecordThatDoesNotArriveWholeEndsTheTransferAtOnce) {
    incoming_connection_handler& listener = listen();
    manual_peer peer(*s_pAlice, m_oBobProfile, listener.listening_address());
    ASSERT_TRUE(peer.authenticated());
    ASSERT_TRUE(peer.send_raw(pattern_bytes(10, 6)));
    peer.half_close();
    EXPECT_TRUE(peer.peer_closed_within(std::chrono::seconds(2))) << "the connection is closed, not left open";
    ASSERT_TRUE(wait_received(1));
    const transfer_view broken = received(0);
    EXPECT_EQ(broken.state, transfer_state::getting_file_record);
    EXPECT_EQ(broken.status, transfer_status::receive);
    EXPECT_EQ(broken.file_name, "<unknown>");
    EXPECT_TRUE(names_in(m_strRoot).empty()) << "no parcel box is made for a record that never came";
}

// A disk that takes at most 1000 bytes a write and is full after 100000: a file that fits arrives whole all the same.
TEST_F(TransferFaults, FullDiskIsAFailureOnBothSides) {
    const auto disk = std::make_shared<limited_disk>(100000, 1000);
    listen(2048, 64, disk);
    const std::string fits = make_file("fits.bin", 60000, 2);
    const auto stored = send_file(fits);
    ASSERT_TRUE(wait_sent() && wait_received(1));
    EXPECT_FALSE(stored->snapshot().failed) << stored->snapshot().status_text;
    EXPECT_EQ(read_all(alice_box() + "/fits.bin"), read_all(fits)) << "a short write lost or repeated bytes";
    std::filesystem::remove(alice_box() + "/fits.bin");

    const auto sent = send_file(make_file("big.bin", 400000));
    ASSERT_TRUE(wait_sent() && wait_received(2));
    EXPECT_EQ(received(1).status, transfer_status::receive);
    EXPECT_TRUE(sent->snapshot().failed) << "the sender must not report a file the receiver could not store";
    EXPECT_EQ(sent->snapshot().status, transfer_status::send);
    EXPECT_BOX_EMPTY();
    EXPECT_EQ(disk->open_files(), 0U) << "the failed file is still open and holds its room";
}

// A receiver that gives up after reading part of the data: every failed send counts, so the sender fails.
TEST_F(TransferFaults, ReceiverThatResetsMakesTheSenderFail) {
    net_socket listening;
    net_address local;
    ASSERT_TRUE(resolve_address("127.0.0.1", 0, local));
    ASSERT_TRUE(open_tcp_socket(listening));
    ASSERT_TRUE(bind_socket(listening, local));
    ASSERT_TRUE(listen_socket(listening));
    const std::string source = make_file("reset.bin", 3000000);
    const auto sent = sender().start_outgoing(source_dir(), "reset.bin", {listening.address}, 2048);
    auto connection = accept_connection(listening, nullptr);
    ASSERT_TRUE(connection);
    const std::unique_ptr<net_socket> accepted = std::move(connection.value());
    ASSERT_TRUE(set_receive_timeout(*accepted, 5000));
    rsa_authentycryptor bob(s_pBob->provider(), s_pBob->settings());
    friend_profile alice;
    socket_link link(*accepted);
    ASSERT_TRUE(bob.AuthenticateAsReceiver(link, alice));
    std::vector<std::uint8_t> some(10000);
    ASSERT_TRUE(receive_all(*accepted, static_cast<int>(some.size()), some.data()));
    const linger abort_at_once{1, 0};
    ::setsockopt(accepted->handle, SOL_SOCKET, SO_LINGER, &abort_at_once, sizeof abort_at_once);
    ::close(accepted->handle);
    accepted->handle = -1;
    ASSERT_TRUE(wait_sent());
    const transfer_view reset = sent->snapshot();
    EXPECT_TRUE(reset.failed);
    EXPECT_EQ(reset.status, transfer_status::send);
    EXPECT_EQ(reset.state, transfer_state::completed);
}

// The last piece fits the socket buffers, so every send succeeds; only the receiver's reset tells of the failure.
TEST_F(TransferFaults, SenderWaitsForTheReceiversVerdict) {
    bob_accepts_alice(0xE40, 1, 10);
    listen();
    const auto sent = send_file(make_file("small.bin", 11));
    ASSERT_TRUE(wait_sent());
    EXPECT_TRUE(sent->snapshot().failed);
    EXPECT_EQ(sent->snapshot().status, transfer_status::send);
}

TEST_F(TransferFaults, UnknownSenderIsClosedAtOnce) {
    listen();
    ASSERT_TRUE(delete_profile(s_pBob->settings(), "Alice"));
    const auto started = std::chrono::steady_clock::now();
    const auto sent = send_file(make_file("stranger.bin", 10));
    ASSERT_TRUE(wait_sent());
    ASSERT_TRUE(wait_received(1));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << "no time-out was waited out";
    EXPECT_EQ(sent->snapshot().status, transfer_status::authentication);
    EXPECT_EQ(sent->snapshot().state, transfer_state::authenticating);
    EXPECT_EQ(received(0).status, transfer_status::authentication);
    EXPECT_TRUE(m_oLog.contains("R::Authenticating FAILED->profile retrieval"));
    EXPECT_TRUE(names_in(m_strRoot).empty());
}

// Nobody can be asked anything on a transfer's thread (the questions guard fails the test if anyone is): the
// receiver only logs, and the sender's transfer says why in words.
TEST_F(TransferFaults, NoCommonKeyTypeIsTheSendersReasonAndTheReceiversLogLine) {
    struct restore_alice {
        std::uint32_t types = s_pAlice->provider().allowed_key_types;
        ~restore_alice() { s_pAlice->provider().allowed_key_types = types; }
    } restore;
    s_pAlice->provider().allowed_key_types = 0x800; // AES 256 only
    bob_accepts_alice(0x200);                       // AES 128 only
    listen();
    const auto sent = send_file(make_file("nokey.bin", 10));
    ASSERT_TRUE(wait_sent());
    ASSERT_TRUE(wait_received(1));
    const transfer_view refused = sent->snapshot();
    EXPECT_EQ(refused.status, transfer_status::authentication);
    EXPECT_EQ(refused.status_text,
              "authentication failed: no session key type that both sides allow, or the receiver does not know this "
              "sender");
    EXPECT_TRUE(m_oLog.contains(refused.id, "S::Authenticating FAILED->no mutually acceptable key types"));
    const transfer_view receiving = received(0);
    EXPECT_EQ(receiving.status, transfer_status::authentication);
    EXPECT_TRUE(m_oLog.contains(receiving.id, "R::Authenticating FAILED->no mutually acceptable key types"));
    EXPECT_TRUE(names_in(m_strRoot).empty());
}

TEST_F(TransferFaults, DestinationWithoutListenerFailsToConnect) {
    net_socket closed_port;
    net_address local;
    ASSERT_TRUE(resolve_address("127.0.0.1", 0, local));
    ASSERT_TRUE(open_tcp_socket(closed_port));
    ASSERT_TRUE(bind_socket(closed_port, local)); // bound, never listening: connections are refused
    make_file("x", 1);
    const auto sent = sender().start_outgoing(source_dir(), "x", {closed_port.address}, 2048);
    ASSERT_TRUE(wait_sent());
    const transfer_view refused = sent->snapshot();
    EXPECT_EQ(refused.state, transfer_state::connecting_to_destination);
    EXPECT_EQ(refused.status, transfer_status::connect);
    EXPECT_TRUE(refused.failed);
    EXPECT_EQ(refused.status_text, "cannot connect to " + endpoint_text(closed_port.address) + ": Connection refused");
    EXPECT_EQ(endpoint_text(closed_port.address).rfind("127.0.0.1:", 0), 0U);
    const auto missing = sender().start_outgoing(source_dir(), "missing", {closed_port.address}, 2048);
    ASSERT_TRUE(wait_sent());
    EXPECT_EQ(missing->snapshot().state, transfer_state::opening_read_file);
    EXPECT_EQ(missing->snapshot().status, transfer_status::file_open);
    EXPECT_EQ(missing->snapshot().status_text, source_dir() + "/missing does not exist");
    EXPECT_TRUE(m_oLog.contains(std::string("outgoing_connection_handler -->") + source_dir() + "[missing]"));
}

TEST_F(TransferFaults, ReceiverThatNeverAnswersIsATimeOutNotAFailedAuthentication) {
    net_socket silent;
    net_address local;
    ASSERT_TRUE(resolve_address("127.0.0.1", 0, local));
    ASSERT_TRUE(open_tcp_socket(silent));
    ASSERT_TRUE(bind_socket(silent, local));
    ASSERT_TRUE(listen_socket(silent)); // the kernel completes the connection; nobody ever reads or writes
    make_file("x", 1);
    sender().io_timeout_ms = 300;
    const auto sent = sender().start_outgoing(source_dir(), "x", {silent.address}, 2048);
    ASSERT_TRUE(wait_sent());
    const transfer_view waited = sent->snapshot();
    EXPECT_EQ(waited.state, transfer_state::authenticating);
    EXPECT_EQ(waited.status_text, "time-out: " + endpoint_text(silent.address) + " did not answer within 300 ms");
}

TEST(UnopenableFiles, EachSaysWhatItIs) {
    const temp_home home;
    EXPECT_EQ(unopenable_file_words(home.path() + "/none", ENOENT), home.path() + "/none does not exist");
    EXPECT_EQ(unopenable_file_words(home.path(), EISDIR), home.path() + " is a directory; only files can be sent");
    EXPECT_EQ(unopenable_file_words("/dev/null", 0), "/dev/null is a device; only files can be sent");
    const std::string locked = home.path() + "/locked";
    { std::ofstream(locked) << "x"; }
    EXPECT_EQ(unopenable_file_words(locked, EACCES), locked + " cannot be read: Permission denied")
        << "a regular file that cannot be opened gives the open's error";
}

} // namespace
} // namespace tiv::test
