#include <atomic>
#include <gtest/gtest.h>
#include <latch>
#include <thread>

#include "net/transfer/thread_bundle.h"
#include "net/transfer/transfer_slots.h"
#include "net/transfer/transfer_state.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

using test::wait_for;

std::shared_ptr<socket_thread> start_waiting(std::atomic<bool>& release) {
    auto transfer = std::make_shared<socket_thread>();
    transfer->start_thread([transfer, &release] {
        while (!release && !transfer->stop_requested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    return transfer;
}

TEST(ThreadMachinery, StartWaitsForTheBodyAndStopWaitEndsIt) {
    std::atomic<bool> release{false};
    const auto transfer = start_waiting(release);
    EXPECT_NE(transfer->log_handle(), 0U);
    EXPECT_FALSE(transfer->body_finished()) << "start_thread returns once the body runs";
    EXPECT_FALSE(transfer->snapshot().finished);
    EXPECT_TRUE(transfer->stop_wait());
    EXPECT_TRUE(transfer->body_finished());
    EXPECT_TRUE(transfer->stop_requested());
    EXPECT_TRUE(transfer->snapshot().finished) << "a body that did not end itself still ends";
}

TEST(ThreadMachinery, BodyKeepsItsObjectAliveAfterTheOwnerLetsGo) {
    std::atomic<bool> release{false};
    std::weak_ptr<socket_thread> watched;
    {
        auto transfer = start_waiting(release);
        watched = transfer;
    }
    EXPECT_FALSE(watched.expired()) << "released while its body still runs";
    release = true;
    EXPECT_TRUE(wait_for([&] { return watched.expired(); }, std::chrono::seconds(2))) << "never reclaimed";
}

TEST(ThreadMachinery, BundleCountsRemovesAndReleases) {
    thread_bundle bundle;
    EXPECT_TRUE(bundle.snapshots().empty());
    std::atomic<bool> release{false};
    std::vector<std::shared_ptr<socket_thread>> threads;
    for (int i = 0; i < 3; ++i) {
        threads.push_back(start_waiting(release));
        bundle.append(threads.back());
    }
    EXPECT_EQ(bundle.size(), 3U);
    EXPECT_EQ(bundle.running_count(), 3U);
    const std::vector<transfer_view> listed = bundle.snapshots();
    ASSERT_EQ(listed.size(), 3U);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(listed[i].id, threads[i]->id()) << "in order of creation";
    }
    bundle.remove_thread(threads[1].get());
    EXPECT_EQ(bundle.size(), 2U);
    EXPECT_FALSE(threads[1]->body_finished()) << "unlinking does not stop";
    release = true;
    ASSERT_TRUE(wait_for([&] { return bundle.running_count() == 0; }, std::chrono::seconds(2)));
    EXPECT_EQ(bundle.finished_count(), 2U);
    const std::weak_ptr<socket_thread> cleared = threads[0];
    threads.clear();
    EXPECT_EQ(bundle.clear_completed(), 2U);
    EXPECT_EQ(bundle.size(), 0U);
    EXPECT_TRUE(cleared.expired()) << "clearing releases what the list held";
}

TEST(ThreadMachinery, StopAllStopsEveryBodyWithinOneWait) {
    thread_bundle bundle;
    std::atomic<bool> never{false};
    std::vector<std::shared_ptr<socket_thread>> threads;
    for (int i = 0; i < 20; ++i) {
        threads.push_back(start_waiting(never));
        bundle.append(threads.back());
    }
    bundle.stop_all();
    EXPECT_EQ(bundle.size(), 0U);
    for (const auto& thread : threads) {
        EXPECT_TRUE(thread->body_finished());
    }
}

TEST(ThreadMachinery, AListKeepsOnlyItsNewestFinishedTransfers) {
    thread_bundle bundle;
    bundle.keep_finished(1);
    std::atomic<bool> release{true};
    std::vector<std::weak_ptr<socket_thread>> ended;
    std::uint64_t newest = 0;
    for (int i = 0; i < 3; ++i) {
        const auto transfer = start_waiting(release);
        ASSERT_TRUE(transfer->wait_finished(std::chrono::steady_clock::now() + std::chrono::seconds(2)));
        ended.push_back(transfer);
        newest = transfer->id();
        bundle.append(transfer);
    }
    EXPECT_EQ(bundle.size(), 2U) << "one finished transfer kept beside the newest";
    EXPECT_TRUE(ended[0].expired()) << "the oldest is released once no list shows it";
    EXPECT_EQ(bundle.snapshots().back().id, newest);
}

// Appending from one thread while others read and clear: the list is guarded (ThreadSanitizer checks the rest).
TEST(ThreadMachinery, ConcurrentAppendReadAndClear) {
    thread_bundle bundle;
    std::atomic<bool> done{false};
    std::thread appender([&] {
        for (int i = 0; i < 300; ++i) {
            auto transfer = std::make_shared<socket_thread>();
            transfer->start_thread([] {});
            bundle.append(transfer);
        }
        done = true;
    });
    std::size_t reads = 0;
    while (!done) {
        reads += bundle.running_count() + bundle.finished_count() + bundle.snapshots().size();
        (void)bundle.clear_completed();
    }
    appender.join();
    ASSERT_TRUE(wait_for([&] { return bundle.running_count() == 0; }, std::chrono::seconds(5)));
    (void)bundle.clear_completed();
    EXPECT_EQ(bundle.size(), 0U);
    EXPECT_GE(reads, 0U);
}

TEST(ThreadMachinery, SlotsBlockAtTheLimitAndCloseWakesTheWaiter) {
    constexpr std::chrono::seconds patience(30);
    transfer_slots slots(2);
    ASSERT_TRUE(slots.acquire_within(patience));
    ASSERT_TRUE(slots.acquire_within(patience));
    EXPECT_FALSE(slots.acquire_within(std::chrono::milliseconds(20))) << "gives up when none comes free";
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = slots.acquire_within(patience) ? 1 : 0; });
    EXPECT_FALSE(wait_for([&] { return result != -1; }, std::chrono::milliseconds(100)));
    slots.release();
    ASSERT_TRUE(wait_for([&] { return result == 1; }, std::chrono::seconds(2)));
    EXPECT_EQ(slots.in_use(), 2U);
    result = -1;
    std::thread closed([&] { result = slots.acquire_within(patience) ? 1 : 0; });
    slots.close();
    closed.join();
    waiter.join();
    EXPECT_EQ(result, 0);
}

TEST(ThreadMachinery, SnapshotCopiesTheProgressInOnePiece) {
    std::atomic<bool> release{false};
    const auto transfer = start_waiting(release);
    file_record record;
    record.set_name("big.iso");
    record.file_size = 1;
    transfer->set_record(record, (std::uint64_t{1} << 32) + 1);
    transfer->begin();
    transfer->set_bytes_done(5000000000);
    transfer_view running = transfer->snapshot();
    EXPECT_EQ(running.file_name, "big.iso");
    EXPECT_EQ(running.size, (std::uint64_t{1} << 32) + 1) << "the whole size, not the record's low 32 bits";
    EXPECT_EQ(running.bytes_done, 5000000000U);
    EXPECT_EQ(running.state, transfer_state::initializing);
    EXPECT_FALSE(running.finished);
    EXPECT_GT(running.start_time, 0);
    EXPECT_GT(running.rate, 0.0);

    transfer->end(false, transfer_status::authentication, "authentication failed: why");
    transfer->end(true); // a second end changes nothing
    const transfer_view ended = transfer->snapshot();
    EXPECT_TRUE(ended.finished);
    EXPECT_EQ(ended.state, transfer_state::initializing) << "a failed transfer stays where it failed";
    EXPECT_TRUE(ended.failed);
    EXPECT_EQ(ended.status, transfer_status::authentication);
    EXPECT_EQ(ended.status_text, "authentication failed: why");
    EXPECT_GE(ended.end_time, ended.start_time);
    EXPECT_EQ(transfer->snapshot().seconds, ended.seconds) << "the time stops at the end";
    release = true;
    EXPECT_TRUE(transfer->stop_wait());
}

TEST(TransferStates, NamesAndStatusWords) {
    EXPECT_STREQ(transfer_state_name(transfer_state::undefined), "UNDEFINED");
    EXPECT_STREQ(transfer_state_name(transfer_state::connecting_to_destination), "CONNECTING_TO_DESTINATION");
    EXPECT_STREQ(transfer_state_name(transfer_state::verifying_permissions), "VERIFYING_PERMISSIONS");
    EXPECT_STREQ(transfer_state_name(transfer_state::completed), "COMPLETED");
    EXPECT_STREQ(transfer_state_name(static_cast<transfer_state>(13)), "UNDEFINED");
    EXPECT_STREQ(transfer_status_text(transfer_status::file_open, true), "the file cannot be opened for reading");
    EXPECT_STREQ(transfer_status_text(transfer_status::file_open, false), "the temporary file cannot be created");
}

} // namespace
} // namespace tiv
