#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/status.h"

namespace tiv::app {

// Raw access to the settings key "Version 1.2" of either hive, for administrators and for values the program
// never writes itself (such as "InstallationDirectory").
enum class hive { machine, user };

// One value as a .reg line's right-hand side ("text", dword:0000abcd, hex:..); not_found when it is missing.
[[nodiscard]] result<std::string> read_raw_setting(hive which, const std::string& name);

// invalid, with the range, for a machine "IOBlockSize" or "InterfaceIPPort" the program would not take as written.
[[nodiscard]] status write_raw_dword(hive which, const std::string& name, std::uint32_t number);
[[nodiscard]] status write_raw_text(hive which, const std::string& name, const std::string& text);
[[nodiscard]] status write_raw_binary(hive which, const std::string& name, const std::vector<std::uint8_t>& bytes);

// The hives, in the order given, in the text form of a .reg file (its header line first).
[[nodiscard]] result<std::string> export_raw_settings(const std::vector<hive>& hives);

} // namespace tiv::app
