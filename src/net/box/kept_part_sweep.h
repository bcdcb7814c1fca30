#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "core/time_source.h"

namespace tiv {

// Removes expired kept parts (remove_expired_kept_parts) below a parcel box root while a listener runs: once when
// made, before it returns, and then every `interval` on a thread of its own, so a part waiting its days for a
// friend who never comes back goes even when the listener is not started again for months. Ending the object wakes
// that thread at once and waits for it. The parts' age is told by `clock`, which must outlive the object.
class kept_part_sweep {
public:
    static constexpr std::chrono::seconds default_interval = std::chrono::hours(1);

    kept_part_sweep(std::string parcel_root, std::chrono::seconds max_age,
                    std::chrono::milliseconds interval = default_interval, const time_source& clock = real_time());
    kept_part_sweep(const kept_part_sweep&) = delete;
    kept_part_sweep& operator=(const kept_part_sweep&) = delete;
    ~kept_part_sweep() = default;

private:
    void run(const std::stop_token& stop);

    const std::string m_strRoot;
    const std::chrono::seconds m_nMaxAge;
    const std::chrono::milliseconds m_nInterval;
    const time_source& m_oClock;
    std::mutex m_oLock; // only for the wait
    std::condition_variable_any m_oWake;
    std::jthread m_oThread; // last: it stops and joins before the members it uses go
};

} // namespace tiv
