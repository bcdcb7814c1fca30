#pragma once

#include <cstdint>
#include <map>
#include <mutex>

#include "core/file_writer.h"

namespace tiv::test {

// A disk of `capacity` bytes as a receiver writes to it: a write takes what still fits, at most `largest_write`
// bytes (less than asked, as write(2) may), and fails with ENOSPC once nothing fits. A file's bytes take room from
// its first write until it is closed through this writer, so a file left open keeps its room as a deleted but open
// file keeps its blocks. Opens and syncs are real.
class limited_disk final : public file_writer {
public:
    explicit limited_disk(std::uint64_t capacity, std::size_t largest_write = SIZE_MAX)
        : m_nCapacity(capacity), m_nLargestWrite(largest_write) {}

    [[nodiscard]] ssize_t write(int fd, const void* data, std::size_t size) override;
    [[nodiscard]] int close(unique_fd fd) override;

    // Files written to and not closed since.
    [[nodiscard]] std::size_t open_files() const;

private:
    const std::uint64_t m_nCapacity;
    const std::size_t m_nLargestWrite;
    mutable std::mutex m_oLock;
    std::map<int, std::uint64_t> m_oWritten; // bytes per descriptor, until it is closed
    std::uint64_t m_nUsed = 0;
};

} // namespace tiv::test
