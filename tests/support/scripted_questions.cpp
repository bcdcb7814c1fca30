#include "support/scripted_questions.h"

#include <gtest/gtest.h>

namespace tiv::test {

scripted_questions::~scripted_questions() {
    EXPECT_EQ(unused_answers(), 0U) << "scripted answers or file choices nobody asked for";
}

void scripted_questions::unexpected(const std::string& what) {
    ADD_FAILURE() << what;
}

void recorded_events::log(const app::log_event& line) {
    std::lock_guard guard(m_oLock);
    m_aLines.push_back(line);
}

std::vector<app::log_event> recorded_events::lines() const {
    std::lock_guard guard(m_oLock);
    return m_aLines;
}

} // namespace tiv::test
