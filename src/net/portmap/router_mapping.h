#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tiv {

// A forwarding of the listening port that the home router granted: friends outside connect to
// external_address:external_port and reach this computer's internal_port.
struct router_mapping {
    std::string method;           // "NAT-PMP" or "UPnP"
    std::string router;           // the router's address, as the user knows it
    std::string external_address; // the router's address on the internet
    std::uint16_t external_port = 0;
    std::uint16_t internal_port = 0;
    std::chrono::seconds lifetime{0}; // until it lapses unless renewed
    // What a UPnP router needs to renew and remove it.
    std::string control_url;
    std::string service_type;
    std::string internal_client;
};

// A mapping, or why there is none, in words for the user: "no router answered NAT-PMP or UPnP", "the router
// refused: ConflictInMappingEntry".
struct mapping_attempt {
    std::optional<router_mapping> mapping;
    std::string why_not;
};

// Asks the router of the default route to forward TCP `port` for `lifetime`: NAT-PMP first, which answers in one
// datagram, then UPnP IGD. Every wait is bounded by `patience` a protocol, so no router costs at most twice that.
[[nodiscard]] mapping_attempt map_port(std::uint16_t port, std::chrono::seconds lifetime,
                                       std::chrono::milliseconds patience);

// Asks the router that granted `mapping` for it again, before it lapses; the router may grant another port.
[[nodiscard]] mapping_attempt renew_mapping(const router_mapping& mapping, std::chrono::milliseconds patience);

// Asks the router to drop `mapping`; false when it did not say it did.
bool remove_mapping(const router_mapping& mapping, std::chrono::milliseconds patience);

} // namespace tiv
