#pragma once

#include "app/status.h"

// Whether the desktop program goes on receiving once its main window is closed, where the desktop has a tray to come
// back from: the user's "KeepReceivingInBackground".
namespace tiv::app {

class program;

// On unless the user turned it off.
[[nodiscard]] bool keeps_receiving_in_background(program& p);
// io_failure when the settings store refused the value.
[[nodiscard]] status set_keep_receiving_in_background(program& p, bool on);

// True once per user: the first time closing the window leaves the program in the tray, the caller says so.
[[nodiscard]] bool claim_background_notice(program& p);

} // namespace tiv::app
