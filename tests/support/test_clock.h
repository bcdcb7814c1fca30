#pragma once

#include <atomic>
#include <chrono>

#include "core/time_source.h"

namespace tiv::test {

// A clock that stands still where it was made (at the real time) until the test moves it; read from any thread.
class test_clock final : public time_source {
public:
    using calendar_clock = std::chrono::system_clock;

    [[nodiscard]] calendar_clock::time_point calendar() const override {
        return calendar_clock::time_point(calendar_clock::duration(m_nCalendar.load()));
    }
    // The clock goes on by `by`.
    void advance(std::chrono::seconds by) {
        m_nCalendar += std::chrono::duration_cast<calendar_clock::duration>(by).count();
    }

private:
    std::atomic<calendar_clock::rep> m_nCalendar{calendar_clock::now().time_since_epoch().count()};
};

} // namespace tiv::test
