#pragma once

#include "app/internal/only.h"

#include "app/presence_service.h"
#include "presence/ping_types.h"

namespace tiv::app {

// What one echo request's result tells the user: only an echo reply is a success, so a Time Exceeded about the
// request (which the ping itself accepts as an answer) is a failure.
[[nodiscard]] ping_reply ping_outcome(const ping_result& result);

} // namespace tiv::app
