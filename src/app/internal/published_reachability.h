#pragma once

#include "app/internal/only.h"

#include <optional>
#include <string>

#include "app/internal/engine_objects.h"
#include "net/portmap/router_mapping.h"

namespace tiv::app {

// The listener's reachability line, kept in the user's settings with the process that wrote it, so that another
// process of the user (whoami) reads what the running listener learned instead of asking the router again.
void publish_reachability(const qvl_settings_data& settings, const std::string& line,
                          const std::optional<router_mapping>& mapping);
void withdraw_reachability(const qvl_settings_data& settings);
// The line of a listener that still runs; none when no process of ours wrote one or it has ended.
[[nodiscard]] std::optional<std::string> published_reachability(const qvl_settings_data& settings);
// Where friends reach the running listener through the router, as "11.0.0.1:20000"'s parts.
struct mapped_endpoint {
    std::string host;
    std::uint32_t port = 0;
};
[[nodiscard]] std::optional<mapped_endpoint> published_mapping(const qvl_settings_data& settings);

} // namespace tiv::app
