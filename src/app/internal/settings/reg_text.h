#pragma once

#include "app/internal/only.h"

#include <ostream>
#include <string>

#include "platform/registry/registry.h"

namespace tiv::app {

// Writes a key, its values and every key below it in the text form of a .reg file.
void export_key_tree(const reg::key& k, const std::string& path, std::ostream& out);

// One value as a .reg line's right-hand side: "text", dword:0000abcd or hex(N):..,..
[[nodiscard]] std::string format_reg_value(std::uint32_t type, const std::vector<std::uint8_t>& data);

// The registry root names as .reg files spell them.
[[nodiscard]] const char* root_name(reg::root which);

} // namespace tiv::app
