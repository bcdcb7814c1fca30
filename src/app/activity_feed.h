#pragma once

#include <cstdint>
#include <string_view>

#include "app/events.h"

namespace tiv::app {

// While it lives, every line the activity log takes reaches `events`, in the log's order. Unlike log_forwarding it
// leaves the switch alone: a window shows the log, the user decides whether there is anything to show.
class activity_feed {
public:
    explicit activity_feed(event_sink& events);
    activity_feed(const activity_feed&) = delete;
    activity_feed& operator=(const activity_feed&) = delete;
    ~activity_feed();

private:
    std::uint64_t m_nToken = 0; // the activity log's observer
};

// "==> " and the user's own words among the activity lines: the feeds hear of it, the log file never does.
void comment_on_activity(std::string_view comment);

} // namespace tiv::app
