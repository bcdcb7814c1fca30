#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/address_text.h"

namespace tiv::app {

// Where a program listens or is reached: a host name or address, and a port.
struct endpoint {
    std::string host;
    std::uint32_t port = 0;
};

using tiv::endpoint_words;

// ADDRESS:PORT as a user writes it: "10.0.0.2:20000", "bob.example.org:20000" or "[2001:db8::5]:20000" (an IPv6
// address needs its brackets there). None when it is not one, or the port is not 1 to 65535.
[[nodiscard]] std::optional<endpoint> parse_endpoint(const std::string& text);

} // namespace tiv::app
