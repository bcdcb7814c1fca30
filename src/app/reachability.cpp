#include "app/reachability.h"

#include "app/internal/listen_config.h"
#include "app/internal/port_mapping_keeper.h"
#include "app/internal/program_parts.h"
#include "app/internal/published_reachability.h"
#include "app/internal/settings/identity_service.h"
#include "app/program.h"
#include "net/socket/net_address.h"

namespace tiv::app {

std::string reachability_now(program& p) {
    if (p.incoming().listening()) {
        return p.incoming().reachability();
    }
    const qvl_settings_data& settings = settings_of(p);
    if (std::optional<std::string> published = published_reachability(settings)) {
        return *published;
    }
    const listen_config config = listen_config_of(settings);
    net_address address{};
    if (!config.port_mapping ||
        (resolve_address(config.interface_address.c_str(), 0, address) && address.is_loopback())) {
        return unmapped_reachability(config.port_mapping);
    }
    return "Not reachable from the internet: the program is not listening";
}

} // namespace tiv::app
