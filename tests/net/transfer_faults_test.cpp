#include <csignal>
#include <sys/resource.h>
#include <sys/socket.h>

#include "net/socket_link.h"
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
    const auto received = listener.thread_at(0);
    EXPECT_EQ(received->failed, 1);
    EXPECT_EQ(received->status_code, status_receive);
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
        EXPECT_EQ(listener.thread_at(i)->status_code, status_receive);
        EXPECT_EQ(listener.thread_at(i)->failed, 1);
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
    EXPECT_EQ(listener.thread_at(0)->status_code, status_receive);
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
    const auto received = listener.thread_at(0);
    EXPECT_EQ(received->state, GETTING_FILE_RECORD);
    EXPECT_EQ(received->status_code, status_receive);
    EXPECT_STREQ(received->record().file_name, "<unknown>");
    EXPECT_TRUE(names_in(m_strRoot).empty()) << "no parcel box is made for a record that never came";
}

TEST_F(TransferFaults, FullDiskIsAFailureOnBothSides) {
    listen();
    const std::string source = make_file("big.bin", 400000);
    // A file size limit makes writes fail beyond it, as a full file system does; the source is written already.
    auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = 100000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto sent = send_file(source);
    const bool done = wait_sent() && wait_received(1);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previous_handler);
    ASSERT_TRUE(done);
    EXPECT_EQ(m_pListener->thread_at(0)->status_code, status_receive);
    EXPECT_EQ(sent->failed, 1) << "the sender must not report a file the receiver could not store";
    EXPECT_EQ(sent->status_code, status_send);
    EXPECT_BOX_EMPTY();
}

// A receiver that gives up after reading part of the data: every failed send counts, so the sender fails.
TEST_F(TransferFaults, ReceiverThatResetsMakesTheSenderFail) {
    net_socket listening;
    net_address local;
    ASSERT_TRUE(resolve_address("127.0.0.1", 0, local));
    ASSERT_TRUE(open_tcp_socket(listening));
    ASSERT_EQ(bind_socket(listening, local), bind_succeeded);
    ASSERT_TRUE(listen_socket(listening));
    const std::string source = make_file("reset.bin", 3000000);
    const auto sent = sender().start_outgoing(source_dir(), "reset.bin", listening.address, 2048);
    auto accepted = accept_connection(listening, nullptr);
    ASSERT_NE(accepted, nullptr);
    ASSERT_TRUE(set_receive_timeout(*accepted, 5000));
    rsa_authentycryptor bob(s_pBob->provider(), s_pBob->settings());
    friend_profile alice;
    socket_link link(*accepted);
    ASSERT_TRUE(bob.AuthenticateAsReceiver(link, alice));
    std::vector<std::uint8_t> some(10000);
    ASSERT_EQ(receive_all(*accepted, static_cast<int>(some.size()), some.data()), static_cast<int>(some.size()));
    const linger abort_at_once{1, 0};
    ::setsockopt(accepted->handle, SOL_SOCKET, SO_LINGER, &abort_at_once, sizeof abort_at_once);
    ::close(accepted->handle);
    accepted->handle = -1;
    ASSERT_TRUE(wait_sent());
    EXPECT_EQ(sent->failed, 1);
    EXPECT_EQ(sent->status_code, status_send);
    EXPECT_EQ(sent->state, COMPLETED);
}

// The last piece fits the socket buffers, so every send succeeds; only the receiver's reset tells of the failure.
TEST_F(TransferFaults, SenderWaitsForTheReceiversVerdict) {
    bob_accepts_alice(0xE40, 1, 10);
    listen();
    const auto sent = send_file(make_file("small.bin", 11));
    ASSERT_TRUE(wait_sent());
    EXPECT_EQ(sent->failed, 1);
    EXPECT_EQ(sent->status_code, status_send);
}

TEST_F(TransferFaults, UnknownSenderIsClosedAtOnce) {
    incoming_connection_handler& listener = listen();
    ASSERT_TRUE(delete_profile(s_pBob->settings(), "Alice"));
    const auto started = std::chrono::steady_clock::now();
    const auto sent = send_file(make_file("stranger.bin", 10));
    ASSERT_TRUE(wait_sent());
    ASSERT_TRUE(wait_received(1));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << "no time-out was waited out";
    EXPECT_EQ(sent->status_code, status_authentication);
    EXPECT_EQ(sent->state, AUTHENTICATING);
    EXPECT_EQ(listener.thread_at(0)->status_code, status_authentication);
    EXPECT_TRUE(m_oLog.contains("R::Authenticating FAILED->profile retrieval"));
    EXPECT_TRUE(names_in(m_strRoot).empty());
}

TEST_F(TransferFaults, DestinationWithoutListenerFailsToConnect) {
    net_socket closed_port;
    net_address local;
    ASSERT_TRUE(resolve_address("127.0.0.1", 0, local));
    ASSERT_TRUE(open_tcp_socket(closed_port));
    ASSERT_EQ(bind_socket(closed_port, local), bind_succeeded); // bound, never listening: connections are refused
    make_file("x", 1);
    const auto sent = sender().start_outgoing(source_dir(), "x", closed_port.address, 2048);
    ASSERT_TRUE(wait_sent());
    EXPECT_EQ(sent->state, CONNECTING_TO_DESTINATION);
    EXPECT_EQ(sent->status_code, status_connect);
    EXPECT_EQ(sent->failed, 1);
    const auto missing = sender().start_outgoing(source_dir(), "missing", closed_port.address, 2048);
    ASSERT_TRUE(wait_sent());
    EXPECT_EQ(missing->state, OPENING_READ_FILE);
    EXPECT_EQ(missing->status_code, status_file_open);
    EXPECT_TRUE(m_oLog.contains(std::string("outgoing_connection_handler -->") + source_dir() + "[missing]"));
}

} // namespace
} // namespace tiv::test
