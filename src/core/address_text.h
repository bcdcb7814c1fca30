#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tiv {

// An address that came from a profile file, a command line or a dialog is one of three forms: a host name
// (labels of letters, digits, '-' and '_', joined by dots), a dotted IPv4 address or an IPv6 address (with the
// interface of a link-local one after a '%': "fe80::1%eth0"). Anything
// else reaches a terminal, a window or the resolver as it stands, so it is refused where it is read or set.

// None when `text` is one of the three forms; else why not, as a phrase that follows the quoted address ("holds
// control or bidirectional characters").
[[nodiscard]] std::optional<std::string> address_fault(std::string_view text);

// "10.0.0.2:20000", or "[2001:db8::5]:20000" for an IPv6 address, whose own colons would swallow the port.
[[nodiscard]] std::string endpoint_words(const std::string& host, std::uint32_t port);

} // namespace tiv
