#include "net/box/kept_part_sweep.h"

#include <utility>

#include "net/box/kept_part.h"

namespace tiv {

kept_part_sweep::kept_part_sweep(std::string parcel_root, std::chrono::seconds max_age,
                                 std::chrono::milliseconds interval, const time_source& clock)
    : m_strRoot(std::move(parcel_root)), m_nMaxAge(max_age), m_nInterval(interval), m_oClock(clock) {
    (void)remove_expired_kept_parts(m_strRoot, m_nMaxAge, m_oClock);
    m_oThread = std::jthread([this](const std::stop_token& stop) { run(stop); });
}

void kept_part_sweep::run(const std::stop_token& stop) {
    std::unique_lock lock(m_oLock);
    for (;;) {
        // Nothing but the stop token ends the wait early: it wakes the wait itself, so an end never waits out an
        // interval.
        (void)m_oWake.wait_for(lock, stop, m_nInterval, [] { return false; });
        if (stop.stop_requested()) {
            return;
        }
        lock.unlock();
        (void)remove_expired_kept_parts(m_strRoot, m_nMaxAge, m_oClock);
        lock.lock();
    }
}

} // namespace tiv
