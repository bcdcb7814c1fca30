#include "support/limited_disk.h"

#include <algorithm>
#include <cerrno>

namespace tiv::test {

ssize_t limited_disk::write(int fd, const void* data, std::size_t size) {
    std::lock_guard guard(m_oLock);
    const std::uint64_t room = m_nCapacity - m_nUsed;
    if (size > 0 && room == 0) {
        errno = ENOSPC;
        return -1;
    }
    const auto taken = static_cast<std::size_t>(std::min<std::uint64_t>({size, room, m_nLargestWrite}));
    const ssize_t written = file_writer::write(fd, data, taken);
    if (written > 0) {
        m_nUsed += static_cast<std::uint64_t>(written);
        m_oWritten[fd] += static_cast<std::uint64_t>(written);
    }
    return written;
}

int limited_disk::close(unique_fd fd) {
    {
        std::lock_guard guard(m_oLock);
        if (const auto found = m_oWritten.find(fd.get()); found != m_oWritten.end()) {
            m_nUsed -= found->second;
            m_oWritten.erase(found);
        }
    }
    return file_writer::close(std::move(fd));
}

std::size_t limited_disk::open_files() const {
    std::lock_guard guard(m_oLock);
    return m_oWritten.size();
}

} // namespace tiv::test
