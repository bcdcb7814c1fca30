#pragma once

#include <functional>
#include <string>

namespace tiv::test {

// What the private network of a test looks like.
struct private_network_settings {
    bool ignore_echo = false;       // the namespace's kernel answers no echo request
    bool unprivileged_ping = false; // net.ipv4.ping_group_range covers every group
    bool drop_raw_right = false;    // the child gives up CAP_NET_RAW
};

// Outcome of run_in_private_network: the body's exit code, or unavailable when this process may not make a
// network namespace of its own (not root).
inline constexpr int private_network_unavailable = 77;

// Runs `body` in a forked child inside a fresh network namespace with only its loopback up, so a test may change
// that namespace's ICMP settings without touching the machine's. Returns the body's result (0 for success), or
// private_network_unavailable. The child is killed when it runs longer than 30 seconds.
int run_in_private_network(const private_network_settings& settings, const std::function<int()>& body);

} // namespace tiv::test
