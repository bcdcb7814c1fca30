#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tiv {

// One IPv4 address of an interface, as the choice of a listening address needs it.
struct interface_ipv4 {
    std::string interface_name;
    std::uint32_t address = 0; // host byte order
    bool up = false;
    bool loopback = false;
};

// The interface of the default route in a routing table in the text form of /proc/net/route (a header line, then
// one whitespace-separated line per route: interface, destination and gateway in hexadecimal, flags, ...). The
// usable default route with the lowest metric wins; none when the table has no default route that is up.
[[nodiscard]] std::optional<std::string> default_route_interface(std::string_view route_table);

// Where friends can reach this computer: the first IPv4 address of the interface that holds the default route,
// else the first non-loopback IPv4 address of an interface that is up. None when neither exists.
[[nodiscard]] std::optional<std::uint32_t> reachable_ipv4(const std::optional<std::string>& default_interface,
                                                          const std::vector<interface_ipv4>& addresses);

// The same from this machine's own routing table and interfaces.
[[nodiscard]] std::optional<std::uint32_t> reachable_ipv4_of_this_machine();

} // namespace tiv
