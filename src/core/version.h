#pragma once

#include <string>
#include <string_view>

namespace tiv {

// The release this build is, as the build's project version names it ("1.2.0"). Every front end prints this one
// value, so the command line, the desktop program and the man page cannot disagree.
[[nodiscard]] std::string_view program_version();

// What `--version` prints for the named program, without a line end: "quorvel-cli 1.2.0".
[[nodiscard]] std::string version_text(std::string_view program_name);

} // namespace tiv
