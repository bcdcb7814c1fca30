#pragma once

#include <string>

namespace tiv::ui {

// Called inside a catch block: what the exception being handled says, whatever was thrown (a standard exception,
// the core's fatal errors and texts, or anything else).
[[nodiscard]] std::string currentFailureReason();

} // namespace tiv::ui
