#pragma once

#include <chrono>

namespace tiv {

// Where the time comes from for what depends on it: how old a kept part is, whether a saved session has expired.
// The program reads the real clocks through real_time(); a test passes a clock of its own and moves it, so expiry
// is tested without waiting days or faking a file's times. Implementations must be safe to read from any thread.
class time_source {
public:
    time_source() = default;
    time_source(const time_source&) = delete;
    time_source& operator=(const time_source&) = delete;
    virtual ~time_source() = default;

    // The calendar time, as file times and expiry dates are written.
    [[nodiscard]] virtual std::chrono::system_clock::time_point calendar() const = 0;
};

// The process's real clocks.
[[nodiscard]] const time_source& real_time();

} // namespace tiv
