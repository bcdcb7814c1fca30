#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "log/activity_log.h"
#include "platform/message_box.h"

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

// Answers every message box with OK and remembers what was asked.
class message_box_recorder {
public:
    struct question {
        std::string text;
        std::string caption;
        unsigned style;
    };
    message_box_recorder();
    message_box_recorder(const message_box_recorder&) = delete;
    message_box_recorder& operator=(const message_box_recorder&) = delete;
    ~message_box_recorder();

    [[nodiscard]] std::vector<question> questions() const;

private:
    mutable std::mutex m_oLock;
    std::vector<question> m_aQuestions;
    message_box_hook m_oPrevious;
};

} // namespace tiv::test
