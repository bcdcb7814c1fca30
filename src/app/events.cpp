#include "app/events.h"

#include <cstdio>
#include <ctime>
#include <type_traits>

#include "log/activity_log.h"

namespace tiv::app {

// The front ends' headers keep the log's token without the log's header.
static_assert(std::is_same_v<observer_token, std::uint64_t>);

log_forwarding::log_forwarding(event_sink& events) {
    m_nToken = activity_console().add_observer([&events](const log_line& line) {
        events.log({line.time, line.transfer_id, std::string(line.text)});
    });
    set_activity_logging(true);
}

log_forwarding::~log_forwarding() {
    set_activity_logging(false);
    activity_console().remove_observer(m_nToken);
}

std::string format_log_line(const log_event& line) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(line.time);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(line.time.time_since_epoch()).count() % 1000;
    std::tm local{};
    (void)::localtime_r(&seconds, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis < 0 ? millis + 1000 : millis));
    std::string text = stamp;
    if (line.transfer_id != 0) {
        text += " [#" + std::to_string(line.transfer_id) + "]";
    }
    return text + " " + line.text;
}

} // namespace tiv::app
