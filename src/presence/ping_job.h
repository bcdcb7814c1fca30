#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "presence/ping_socket.h"
#include "presence/ping_types.h"

namespace tiv {

struct ping_job_options {
    std::chrono::milliseconds wait{2000}; // reply wait per sweep
    int length = 64;                      // request length in bytes
    int repeats = 3;                      // further sweeps after an incomplete one
};

// A background ping of a list of records: sweeps until every record has replied or the repeats are used up.
// Each job owns its records and its ICMP socket, so a second job never reads the first one's replies nor
// overwrites its state. Readers on other threads take snapshots; destroying the job stops it and waits for its
// thread before the records go away.
class ping_job {
public:
    ping_job(const ping_job&) = delete;
    ping_job& operator=(const ping_job&) = delete;
    ~ping_job();

    [[nodiscard]] bool done() const { return m_bDone.load(); }
    // The records as they stand now; each reply shows up as it arrives.
    [[nodiscard]] std::vector<ping_record> records() const;
    // The last sweep's value (0: all replied, 1: some did not, -1: the receive time-out could not be set).
    [[nodiscard]] int result() const { return m_nResult.load(); }
    [[nodiscard]] int sweeps() const { return m_nSweeps.load(); }
    [[nodiscard]] icmp_socket_kind socket_kind() const { return m_oSocket.kind(); }
    // Why no ICMP socket could be opened; ok when socket_kind() names one.
    [[nodiscard]] const sys_status& socket_open_status() const { return m_oSocket.open_status(); }
    // Blocks until the job is done or `timeout` has passed; true when done.
    [[nodiscard]] bool wait_until_done(std::chrono::milliseconds timeout) const;

private:
    friend std::unique_ptr<ping_job> start_ping_job(std::vector<ping_record> records, const ping_job_options& options);

    ping_job(std::vector<ping_record> records, const ping_job_options& options);
    void run(std::vector<ping_record> working);

    const ping_job_options m_oOptions;
    ping_socket m_oSocket;
    mutable std::mutex m_oMutex;
    mutable std::condition_variable m_oFinished;
    std::vector<ping_record> m_aRecords; // the published copy, guarded by m_oMutex
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bDone{false};
    std::atomic<int> m_nResult{1};
    std::atomic<int> m_nSweeps{0};
    std::thread m_oThread; // joined in the destructor, before the members it uses go
};

// Sets every record's status to waiting and starts the job's thread; returns at once. The caller has filled each
// record's destination, time-to-live and identifier. Null when no thread can be started.
[[nodiscard]] std::unique_ptr<ping_job> start_ping_job(std::vector<ping_record> records,
                                                       const ping_job_options& options = {});

} // namespace tiv
