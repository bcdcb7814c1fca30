#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tiv {

// A global IPv6 address friends elsewhere can reach, from a table in the text form of /proc/net/if_inet6 (a line per
// address: 32 hexadecimal digits, then interface index, prefix length, scope and flags in hexadecimal, then the
// interface's name). Only a lasting address counts: global scope, not a unique local one (fc00::/7), and not
// temporary (privacy addresses change every day), deprecated, tentative or failed. An address of
// `preferred_interface` comes first. None when there is none.
[[nodiscard]] std::optional<std::string> lasting_global_ipv6(std::string_view table,
                                                             const std::optional<std::string>& preferred_interface);

// The same from this machine's own addresses, preferring the interface of the IPv4 default route.
[[nodiscard]] std::optional<std::string> lasting_global_ipv6_of_this_machine();

} // namespace tiv
