#pragma once

#include <string>

namespace tiv::app {

// Where this user's running desktop program listens for its later starts ("quorvel --send FILE" from a file
// manager), its directory made (mode 0700) if missing. One per user: QUORVEL_HOME, when set, makes another user.
[[nodiscard]] std::string desktop_instance_socket();

} // namespace tiv::app
