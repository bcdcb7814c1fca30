#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace tiv {

// Counts the receiving transfers of a listener against its limit. A transfer takes a slot once its peer has proved
// who it is, so strangers never hold one; every receiving body that took a slot gives it back when it ends.
class transfer_slots {
public:
    explicit transfer_slots(std::size_t limit) : m_nLimit(limit) {}

    // Waits for a free slot at most `patience`; false when none came free in time or once closed.
    [[nodiscard]] bool acquire_within(std::chrono::milliseconds patience);
    void release();
    // Wakes a waiting acquire for good.
    void close();
    [[nodiscard]] std::size_t in_use() const;

private:
    mutable std::mutex m_oLock;
    std::condition_variable m_oChanged;
    std::size_t m_nLimit;
    std::size_t m_nInUse = 0;
    bool m_bClosed = false;
};

} // namespace tiv
