#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/adapters.h"

namespace tiv {

// Parsers of the files that describe leases and resolvers. They take what they can from text of any shape: a
// statement that is malformed, too long or out of range is passed over, never read past its end.

struct interface_lease {
    std::string interface;
    adapter_lease lease;
};

// Every complete lease of an ISC dhclient lease file, in file order. A lease needs its interface, server
// identifier, lease time and expiry; its obtained time is the expiry less the lease time.
[[nodiscard]] std::vector<interface_lease> parse_dhclient_leases(std::string_view text);

// A systemd-networkd lease file (KEY=VALUE lines). The file keeps no time of its own, so the caller passes the time
// it was written, which is when the lease was obtained or renewed.
[[nodiscard]] std::optional<adapter_lease> parse_networkd_lease(std::string_view text, std::int64_t written_at);

// The name servers of a resolv.conf, as the resolver uses them (the first three valid ones).
[[nodiscard]] std::vector<std::string> parse_resolv_conf(std::string_view text);

// A small text file's contents; none when it cannot be read or is larger than `limit` bytes.
[[nodiscard]] std::optional<std::string> read_small_file(const std::string& path, std::size_t limit);

} // namespace tiv
