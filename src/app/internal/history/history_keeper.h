#pragma once

#include "app/internal/only.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "app/status.h"
#include "app/transfer_view.h"
#include "core/time_source.h"
#include "platform/registry/registry.h"

namespace tiv::app {

// The user's record of parcels sent and received, in the "History" key of their settings, kept for "HistoryDays"
// (0 keeps none). Transfers tell it their rows as they end, on their own threads; a thread of its own writes them, a
// batch to a value, so a send of a thousand files neither waits for the disk nor makes a thousand writes. Rows
// still queued when it is destroyed are written then.
class history_keeper {
public:
    // `user_key` is the user's settings key ("Version 1.2"); `clock` says what "HistoryDays" counts from.
    explicit history_keeper(const reg::key& user_key, const time_source& clock = real_time());
    history_keeper(const history_keeper&) = delete;
    history_keeper& operator=(const history_keeper&) = delete;
    ~history_keeper();

    // A row of a transfer that has ended; kept when it concerns a friend and a file (a stranger turned away is no
    // part of the user's history).
    void record(const transfer_view& row);
    // Returns once every row recorded so far is written.
    void flush();

    // The rows within "HistoryDays", newest first; values wholly older are deleted on the way.
    [[nodiscard]] std::vector<transfer_view> read();
    // Deletes every row; rows still queued go too.
    [[nodiscard]] status clear();
    // Moves on with every write and clear, so a window reads the rows again only when they changed.
    [[nodiscard]] std::uint64_t generation() const { return m_nGeneration.load(); }

private:
    void write_queued();
    [[nodiscard]] std::uint32_t kept_days() const;

    reg::key m_oUserKey;
    const time_source& m_oClock;
    mutable std::mutex m_oLock; // guards the queue, the flags and the counters below
    std::condition_variable m_oWake;
    std::condition_variable m_oWritten;
    std::vector<transfer_view> m_aQueued;
    std::uint64_t m_nRecorded = 0; // rows taken in
    std::uint64_t m_nDone = 0;     // of them, rows written (or dropped by a clear)
    std::uint64_t m_nSequence = 0; // names this process's values apart
    bool m_bStopping = false;
    std::atomic<std::uint64_t> m_nGeneration{0};
    std::thread m_oWriter; // last: it starts once everything above is ready
};

} // namespace tiv::app
