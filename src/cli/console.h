#pragma once

#include <mutex>
#include <ostream>

#include "app/events.h"
#include "app/questions.h"

namespace tiv::cli {

// The command line's answers and events. Nobody sits at a command line to click OK, so every question is printed
// on the error stream and answered OK, and no file is ever chosen. Log lines are printed (with their time and transfer)
// only where a command asks for them.
class console final : public app::questions, public app::event_sink {
public:
    explicit console(std::ostream& err) : m_oErr(err) {}

    // Where log lines go from now on; null drops them.
    void print_log_to(std::ostream* out);
    // Where friends' messages go from now on, each on a line under who sent it and when; null drops them.
    void print_messages_to(std::ostream* out);
    // Held by whoever else prints on the streams while transfers may log.
    [[nodiscard]] std::mutex& print_lock() { return m_oLock; }

    int ask(const std::string& text, const std::string& caption, unsigned style) override;
    void log(const app::log_event& line) override;
    void message(const app::received_message& message) override;

private:
    void print_message(const std::string& text, const std::string& caption);

    std::ostream& m_oErr;
    std::mutex m_oLock; // guards the streams, m_pLogOut and m_pMessageOut
    std::ostream* m_pLogOut = nullptr;
    std::ostream* m_pMessageOut = nullptr;
};

} // namespace tiv::cli
