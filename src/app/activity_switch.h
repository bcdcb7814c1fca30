#pragma once

#include <string_view>

namespace tiv::app {

// The user's switch for the activity log: off at every start and never saved, so the program keeps a record
// only while someone asked for one.
[[nodiscard]] bool activity_logging_on();
// Inverts the switch; the new state, for the check mark of whatever flipped it.
bool toggle_activity_logging();

// One line for the activity log, taken only while the switch is on.
void note_in_activity_log(std::string_view line);

} // namespace tiv::app
