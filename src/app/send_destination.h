#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/reverse_name.h"
#include "app/status.h"

namespace tiv::app {

class program;

// The send window's destination list: these two first, then the stored friends.
inline constexpr const char* manual_destination = "<manual>";
inline constexpr const char* loopback_destination = "127.0.0.1 [local loopback]";
inline constexpr const char* loopback_address = "127.0.0.1";
inline constexpr std::uint32_t default_send_port = 20000;

// "<manual>", the loopback entry, every friend's name in sorted order, then the friends announced on the LAN now,
// as "Bob [on the LAN at 192.168.1.23]".
[[nodiscard]] std::vector<std::string> destination_choices(program& p);

// The friend an entry of the list names: the entry itself, or the friend of a LAN entry.
[[nodiscard]] std::string destination_friend(program& p, const std::string& entry);

// The two entries that name no friend: the user gives the address and port.
[[nodiscard]] bool is_manual_destination(const std::string& entry);

// Where a chosen friend is reached, as stored: a host name or dotted quad, and the port.
struct friend_address {
    std::string host;
    std::uint32_t port = 0;
};
// The friend's stored address, or for a LAN entry the address announced; read from the settings, so on the front
// end's thread.
[[nodiscard]] result<friend_address> stored_friend_address(program& p, const std::string& name);

// The address (dotted quad or IPv6) `host` resolves to first, refusing what no send could reach (check_destination).
// May block on a name lookup: callers off the window thread.
[[nodiscard]] result<std::string> resolve_destination(const std::string& host, std::uint32_t port);

// An address (dotted quad or IPv6) and the name its reverse lookup gives (its own text when there is none). May
// block.
[[nodiscard]] result<reverse_name> reverse_lookup(const std::string& address, std::uint32_t port);

} // namespace tiv::app
