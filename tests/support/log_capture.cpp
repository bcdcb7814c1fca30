#include "support/log_capture.h"

#include <algorithm>

namespace tiv::test {

log_capture::log_capture() {
    m_nToken = activity_console().add_observer([this](const log_line& line) {
        std::lock_guard guard(m_oLock);
        m_aLines.emplace_back(line.text);
        m_aTransfers.push_back(line.transfer_id);
    });
    set_activity_logging(true);
}

log_capture::~log_capture() {
    set_activity_logging(false);
    activity_console().remove_observer(m_nToken);
}

std::vector<std::string> log_capture::lines() const {
    std::lock_guard guard(m_oLock);
    return m_aLines;
}

bool log_capture::contains(const std::string& line) const {
    std::lock_guard guard(m_oLock);
    return std::find(m_aLines.begin(), m_aLines.end(), line) != m_aLines.end();
}

bool log_capture::contains(std::uint64_t transfer, const std::string& line) const {
    std::lock_guard guard(m_oLock);
    for (std::size_t i = 0; i < m_aLines.size(); ++i) {
        if (m_aTransfers[i] == transfer && m_aLines[i] == line) {
            return true;
        }
    }
    return false;
}

std::size_t log_capture::count_starting_with(const std::string& prefix) const {
    std::lock_guard guard(m_oLock);
    return static_cast<std::size_t>(std::count_if(m_aLines.begin(), m_aLines.end(),
                                                  [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }));
}

} // namespace tiv::test
