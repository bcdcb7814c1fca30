#pragma once

#include <ostream>

namespace tiv::cli {

inline constexpr int exit_success = 0;
inline constexpr int exit_failure = 1;
inline constexpr int exit_usage = 2;

// Runs one command line; output and errors go to the given streams. Returns the process exit code.
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace tiv::cli
