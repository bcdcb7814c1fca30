#pragma once

#include <string>

namespace tiv::paths {

// The user's own folder ($HOME), where files meant for the user to pick up go.
[[nodiscard]] std::string user_home_directory();
// Where this user's data lives. QUORVEL_HOME, when set, holds everything (tests and portable use);
// otherwise the XDG base directories apply.
[[nodiscard]] std::string home_directory();
[[nodiscard]] std::string user_hive_path();
// QUORVEL_MACHINE_DB wins; then a system-wide /etc/quorvel/machine.db when it exists; else beside the user hive.
[[nodiscard]] std::string machine_hive_path();
[[nodiscard]] std::string key_container_root();
// Stands in for a missing "InstallationDirectory": where the activity log file goes.
[[nodiscard]] std::string default_log_directory();
[[nodiscard]] std::string default_parcel_box_root();
// Where this user's running desktop program takes the requests of its later starts: in the runtime directory
// (XDG_RUNTIME_DIR, private to the user and gone at logout), else beside the settings. Its directory may not exist.
[[nodiscard]] std::string desktop_socket_path();
// Where the desktop session looks for what to start at login: $XDG_CONFIG_HOME/autostart, else ~/.config/autostart.
// QUORVEL_HOME does not move it: the session reads it, not the program.
[[nodiscard]] std::string autostart_directory();

// Path of the system-wide machine hive; tests point it elsewhere through QUORVEL_MACHINE_DB instead.
inline constexpr const char* system_machine_hive = "/etc/quorvel/machine.db";

// Creates every missing directory level of `path` (mode 0700 for levels we make). False on failure.
[[nodiscard]] bool make_directories(const std::string& path);
// The directory part of a path ("" for a bare name).
[[nodiscard]] std::string parent_directory(const std::string& path);

} // namespace tiv::paths
