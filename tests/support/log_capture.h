#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "log/activity_log.h"

namespace tiv::test {

// Turns the activity log on and keeps every line logged while it lives.
class log_capture {
public:
    log_capture();
    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;
    ~log_capture();

    [[nodiscard]] std::vector<std::string> lines() const;
    [[nodiscard]] bool contains(const std::string& line) const;
    // The line was logged as concerning that transfer.
    [[nodiscard]] bool contains(std::uint64_t transfer, const std::string& line) const;
    [[nodiscard]] std::size_t count_starting_with(const std::string& prefix) const;

private:
    mutable std::mutex m_oLock;
    std::vector<std::string> m_aLines;
    std::vector<std::uint64_t> m_aTransfers; // the transfer of each line, 0 for none
    observer_token m_nToken = 0;
};

} // namespace tiv::test
