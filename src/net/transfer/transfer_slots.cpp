#include "net/transfer/transfer_slots.h"

namespace tiv {

bool transfer_slots::acquire_within(std::chrono::milliseconds patience) {
    std::unique_lock lock(m_oLock);
    if (!m_oChanged.wait_for(lock, patience, [this] { return m_bClosed || m_nInUse < m_nLimit; }) || m_bClosed) {
        return false;
    }
    ++m_nInUse;
    return true;
}

void transfer_slots::release() {
    std::lock_guard guard(m_oLock);
    if (m_nInUse > 0) {
        --m_nInUse;
    }
    m_oChanged.notify_all();
}

void transfer_slots::close() {
    std::lock_guard guard(m_oLock);
    m_bClosed = true;
    m_oChanged.notify_all();
}

std::size_t transfer_slots::in_use() const {
    std::lock_guard guard(m_oLock);
    return m_nInUse;
}

} // namespace tiv
