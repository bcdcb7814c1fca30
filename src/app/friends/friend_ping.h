#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace tiv::app {

// What the friend list says about one friend's machine.
enum class friend_ping_state { unknown, pending, ok, timeout, error };

// "unknown", "PENDING", "OK", "TIMEOUT" or "<error>", as the "Ping Status" column shows it.
[[nodiscard]] const char* friend_ping_text(friend_ping_state state);

// Where a ping run stands: one state per address it was given, in that order.
struct friend_ping_progress {
    std::vector<friend_ping_state> states;
    bool done = false;
    std::string problem; // why every friend fails (no ICMP socket), empty otherwise
};

// Called on the ping's own thread with each change and last with `done` set: only enqueue.
using ping_progress_sink = std::function<void(const friend_ping_progress& progress)>;

// Pings `addresses` (names or dotted decimal) to the end, on the calling thread, which must be a worker: names are
// resolved here, so a slow name server holds only the worker. Returns early, without a final report, once `stop`
// is set. An echo reply is the only success; an unresolvable name, an ICMP error and a missing socket are errors,
// and silence is a time-out.
using friend_ping_run = std::function<void(const std::vector<std::string>& addresses, const ping_progress_sink& report,
                                           const std::atomic<bool>& stop)>;

// The real run: up to four sweeps, two seconds each.
void ping_friend_addresses(const std::vector<std::string>& addresses, const ping_progress_sink& report,
                           const std::atomic<bool>& stop);

} // namespace tiv::app
