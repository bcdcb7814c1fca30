#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace tiv {

// Counts the receiving transfers of a listener against its limit. The accept thread takes a slot before it accepts,
// so connections beyond the limit wait in the listen backlog; every receiving body gives its slot back when it ends.
class transfer_slots {
public:
    explicit transfer_slots(std::size_t limit) : m_nLimit(limit) {}

    // Waits for a free slot; false once closed.
    [[nodiscard]] bool acquire();
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
