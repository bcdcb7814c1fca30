#pragma once

#include <string>

#include "app/status.h"
#include "core/file_writer.h"

// Starting the desktop program when the user logs in: an XDG autostart entry of this user's, which the desktop
// session reads at login.
namespace tiv::app {

// $XDG_CONFIG_HOME/autostart/quorvel.desktop, else ~/.config/autostart/quorvel.desktop.
[[nodiscard]] std::string autostart_entry_path();

// Whether the entry is there.
[[nodiscard]] bool starts_at_login();

// The Exec value that starts `program` (an absolute path) with --minimized, quoted and escaped as a desktop entry
// wants it; invalid for a path no entry can hold (relative, or with a control character).
[[nodiscard]] result<std::string> autostart_exec_line(const std::string& program);

// Writes the entry that starts `program` at login, whole or not at all: a reader sees the earlier entry or the new
// one, never a part. io_failure names the path and why.
[[nodiscard]] status start_at_login(const std::string& program, file_writer& files = real_file_writer());
// Removes the entry; one that is not there is no failure.
[[nodiscard]] status stop_starting_at_login();

} // namespace tiv::app
