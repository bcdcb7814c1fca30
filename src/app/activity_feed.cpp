#include "app/activity_feed.h"

#include <string>

#include "log/activity_log.h"

namespace tiv::app {

activity_feed::activity_feed(event_sink& events) {
    m_nToken = activity_console().add_observer([&events](const log_line& line) {
        events.log({line.time, line.transfer_id, std::string(line.text)});
    });
}

activity_feed::~activity_feed() {
    activity_console().remove_observer(m_nToken);
}

void comment_on_activity(std::string_view comment) {
    activity_console().add_comment(comment);
}

} // namespace tiv::app
