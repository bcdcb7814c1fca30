#include <mutex>

#include "transfer_fixture.h"

namespace tiv::test {
namespace {

using Listener = transfer_test;

TEST_F(Listener, BurstLargerThanTheLimitAllArrives) {
    listen(2048, 4);
    std::vector<std::string> sources;
    for (int i = 0; i < 30; ++i) {
        sources.push_back(make_file("burst" + std::to_string(i), 1024, static_cast<unsigned>(i)));
        (void)send_file(sources.back());
    }
    ASSERT_TRUE(wait_sent());
    ASSERT_TRUE(wait_received(30));
    for (const transfer_view& sent : sender().snapshots()) {
        EXPECT_FALSE(sent.failed) << sent.file_name;
    }
    EXPECT_EQ(names_in(alice_box()).size(), 30U);
}

TEST_F(Listener, SilentConnectionIsDroppedAtItsTimeOut) {
    incoming_connection_handler& listener = listen(2048, 1);
    listener.io_timeout_ms = 300;
    net_socket silent;
    ASSERT_TRUE(open_tcp_socket(silent));
    ASSERT_TRUE(connect_socket(silent, listener.listening_address()));
    ASSERT_TRUE(wait_received(1, std::chrono::seconds(5)));
    EXPECT_EQ(received(0).status, transfer_status::authentication);
    // The slot is free again: a real transfer gets through.
    const auto sent = send_file(make_file("after.bin", 100));
    ASSERT_TRUE(wait_sent());
    EXPECT_FALSE(sent->snapshot().failed);
    ::shutdown(silent.handle, SHUT_RDWR);
}

TEST_F(Listener, StopDuringDataEndsPromptlyAndRemovesTheTemporaryFile) {
    incoming_connection_handler& listener = listen();
    // The stopped transfer leaves the list; its end notification is what is left to read.
    struct last_seen {
        std::mutex lock;
        transfer_view transfer;
    };
    const auto seen = std::make_shared<last_seen>();
    listener.set_listener([seen](const transfer_view& transfer) {
        std::lock_guard guard(seen->lock);
        seen->transfer = transfer;
    });
    manual_peer peer(*s_pAlice, m_oBobProfile, listener.listening_address());
    ASSERT_TRUE(peer.authenticated());
    ASSERT_TRUE(peer.send_record("pending.bin", 100000));
    ASSERT_TRUE(peer.send_data(pattern_bytes(5000, 1), false));
    ASSERT_TRUE(wait_for([&] { return listener.size() == 1 && received(0).bytes_done > 0; }, std::chrono::seconds(5)));
    EXPECT_EQ(names_in(alice_box()).size(), 1U) << "the temporary file exists while data arrives";
    const auto started = std::chrono::steady_clock::now();
    listener.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(listener.size(), 0U);
    EXPECT_TRUE(names_in(alice_box()).empty());
    std::lock_guard guard(seen->lock);
    EXPECT_TRUE(seen->transfer.finished) << "the last notification is the end, and says so";
    EXPECT_EQ(seen->transfer.state, transfer_state::completed);
    EXPECT_EQ(seen->transfer.status, transfer_status::stopped);
}

TEST_F(Listener, AddressInUseLeavesAFailedListenerThatStopsAtOnce) {
    incoming_connection_handler& first = listen();
    incoming_connection_handler second(m_strRoot, first.listening_address(), 2048,
                                       std::make_shared<rsa_authentycryptor>(s_pBob->provider(), s_pBob->settings()));
    EXPECT_FALSE(second.listening());
    EXPECT_EQ(second.setup_status().code(), EADDRINUSE);
    EXPECT_EQ(second.setup_status().text().rfind("cannot bind to " + endpoint_text(first.listening_address()), 0), 0U)
        << "the failure names the address it was for: " << second.setup_status().text();
    const auto started = std::chrono::steady_clock::now();
    second.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
}

TEST_F(Listener, ClearCompletedRemovesFinishedTransfersOnly) {
    incoming_connection_handler& listener = listen();
    (void)send_file(make_file("done.bin", 10));
    ASSERT_TRUE(wait_sent());
    ASSERT_TRUE(wait_received(1));
    manual_peer pending(*s_pAlice, m_oBobProfile, listener.listening_address());
    ASSERT_TRUE(pending.authenticated());
    ASSERT_TRUE(wait_for([&] { return listener.running_count() == 1; }, std::chrono::seconds(5)));
    const std::uint64_t running = received(1).id;
    EXPECT_EQ(listener.running_count() + listener.finished_count(), listener.size());
    EXPECT_EQ(listener.clear_completed(), 1U);
    ASSERT_EQ(listener.size(), 1U);
    EXPECT_EQ(received(0).id, running) << "the running one stays";
    EXPECT_FALSE(received(0).finished);
}

} // namespace
} // namespace tiv::test
