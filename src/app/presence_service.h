#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/status.h"

namespace tiv::app {

class program;

// One echo request and what came of it.
struct ping_reply {
    status outcome;               // unreachable when the name does not resolve; "Ping failed! ..." when no reply
    std::int32_t round_trip = -1; // milliseconds, when a reply came
    bool no_socket = false;       // neither a raw nor a datagram ICMP socket could be opened
    int socket_error = 0;         // errno of that refusal
};

// Blocks until the reply or the time-out (5 seconds).
[[nodiscard]] ping_reply ping_address(const std::string& address);

struct friend_ping {
    std::string name;
    std::string outcome; // "OK", "TIMEOUT" or the error in words with its status
};

struct friends_ping {
    std::vector<friend_ping> friends; // in profile order
    bool no_socket = false;           // as in ping_reply; every friend then shows the failure
    int socket_error = 0;
};

// Pings every friend's address in the background, up to four sweeps, and waits for the job to end.
[[nodiscard]] result<friends_ping> ping_friends(program& p);

// The machine's network adapters as an indented tree, one item a line.
[[nodiscard]] std::string adapters_text();

} // namespace tiv::app
