#include "app/activity_switch.h"

#include "log/activity_log.h"

namespace tiv::app {

bool activity_logging_on() {
    return is_activity_logging();
}

bool toggle_activity_logging() {
    return ::tiv::toggle_activity_logging();
}

void note_in_activity_log(std::string_view line) {
    log_activity_text(line);
}

} // namespace tiv::app
