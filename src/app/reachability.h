#pragma once

#include <string>

namespace tiv::app {

class program;

// Whether friends on the internet reach this user's program through the home router, as one line: what the
// listener of this process, or of another running program of this user, learned from the router ("Reachable from
// the internet at 203.0.113.7:20000 (UPnP, router 192.168.1.1)", or why not); when none listens, why it cannot
// be said. Never asks the router itself, so it answers at once.
[[nodiscard]] std::string reachability_now(program& p);

} // namespace tiv::app
