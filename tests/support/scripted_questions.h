#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "app/events.h"
#include "support/answer_script.h"

namespace tiv::test {

// The script of a gtest test: an answer still queued when the object goes fails the test too.
class scripted_questions final : public answer_script {
public:
    scripted_questions() = default;
    ~scripted_questions() override;

protected:
    void unexpected(const std::string& what) override;
};

// Keeps every event, for tests to wait on and read from their own thread.
class recorded_events final : public app::event_sink {
public:
    void log(const app::log_event& line) override;

    [[nodiscard]] std::vector<app::log_event> lines() const;

private:
    mutable std::mutex m_oLock;
    std::vector<app::log_event> m_aLines;
};

} // namespace tiv::test
