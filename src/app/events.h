#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tiv::app {

// One activity log line: when it was logged and, when it concerns a single transfer, that transfer's id (0
// otherwise).
struct log_event {
    std::chrono::system_clock::time_point time;
    std::uint64_t transfer_id = 0;
    std::string text;
};

// A message a friend sent: who, when it arrived, and its text, tamed as a received file's name is, so nothing in it
// acts on a screen or a terminal.
struct received_message {
    std::string friend_name;
    std::string text;
    std::chrono::system_clock::time_point time;
};

// Where the program's discrete events go. A window turns each call into a queued call to its own thread; the
// command line prints them under one lock.
//
// Every member is called on a worker thread (a transfer's, the listener's, or whichever thread logged): only
// enqueue. Never block, never ask the user, never call back into the object that reported.
class event_sink {
public:
    event_sink() = default;
    event_sink(const event_sink&) = delete;
    event_sink& operator=(const event_sink&) = delete;
    virtual ~event_sink() = default;

    virtual void log(const log_event& line) = 0;
    // Heard only through a message_feed (app/friend_conversation.h).
    virtual void message(const received_message& message) { (void)message; }
};

// While it lives, activity logging is on and every line reaches `events`.
class log_forwarding {
public:
    explicit log_forwarding(event_sink& events);
    log_forwarding(const log_forwarding&) = delete;
    log_forwarding& operator=(const log_forwarding&) = delete;
    ~log_forwarding();

private:
    std::uint64_t m_nToken = 0; // the activity log's observer
};

// "22:51:38.123 [#12] text" in local time; a line that concerns no single transfer has no "[#..]".
[[nodiscard]] std::string format_log_line(const log_event& line);

} // namespace tiv::app
