#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tiv::app {

// Where friends can reach this computer, gathered in one place so a test can give its own machine.
struct machine_reach {
    std::optional<std::uint32_t> route_address; // host byte order: the default route's interface, else the first
                                                // non-loopback address that is up
    std::string host_name;                      // the resolver's name for this host, else its own name
    std::optional<std::uint32_t> host_address;  // what host_name resolves to, only when that is off this computer
    std::optional<std::string> global_ipv6;     // a lasting global IPv6 address, the default route's interface first
};

// Reads the routing table and the interfaces, and resolves this host's name: callers off the window thread, or
// where a name lookup may wait.
[[nodiscard]] machine_reach this_machine_reach();

// The "ExternalName" of a user who has not named one: the listening address (as listening_host gives it) when it is
// a specific one, loopback too, since then loopback is what was chosen; for any (0.0.0.0) the default route's
// address, else this host's name where it resolves off this computer. Listening on every address of both families
// ("::"), a global IPv6 address comes first: friends reach it from anywhere, without the forwarding an IPv4 address
// behind a home router needs. None when "any" finds nothing: no loopback name is ever exported in its place.
[[nodiscard]] std::optional<std::string> following_external_name(const std::string& listening_host,
                                                                 const machine_reach& reach);

// Whether `stored` follows the listening address `listening_host` rather than being the user's own choice: empty,
// what the address leads to, or this host's name, which set-ups before this rule stored beside any address.
[[nodiscard]] bool follows_listening_address(const std::string& stored, const std::string& listening_host,
                                             const machine_reach& reach);

} // namespace tiv::app
