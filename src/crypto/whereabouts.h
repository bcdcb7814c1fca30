#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tiv {

// Where a program can be reached now, as its exported profile would say: its external name (or the address that
// name follows) and its listening port. A pinned sender tells it inside TLS, so that the receiver's stored profile
// follows a friend whose address changed.
struct whereabouts {
    std::string host;
    std::uint16_t port = 0;
};

// The longest host a claim may carry: a DNS name's limit.
inline constexpr std::size_t max_whereabouts_host = 255;

} // namespace tiv
