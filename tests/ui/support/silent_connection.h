#pragma once

#include <string>

#include "core/unique_fd.h"

namespace tiv::test {

// A connection to a listener's bound address ("127.0.0.1:20000") that says nothing: the listener counts it as a
// running transfer until it ends or gives up on it. Not valid when nothing accepted it.
[[nodiscard]] unique_fd silent_connection(const std::string& bound_address);

} // namespace tiv::test
