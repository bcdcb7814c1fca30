#include "app/internal/listen_config.h"

#include <algorithm>

#include "app/internal/settings/identity_service.h"
#include "settings/qvl_settings_data.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv::app {

static_assert(app::default_kept_part_days == tiv::default_kept_part_days);

listen_config listen_config_of(const qvl_settings_data& settings) {
    // An older options dialog stored its list's label; only the address in front of it counts.
    return {listening_host(settings.text(text_setting::interface_ip_address)),
            settings.number(number_setting::listening_port),
            static_cast<int>(settings.number(number_setting::io_block_size)),
            settings.text(text_setting::parcel_box_directory_root), settings.number(number_setting::kept_part_days),
            read_dword_setting(settings.machine_key(), names::port_mapping).value_or(1) != 0,
            // Renewed at half of it: a few seconds at the least, so a router is never asked all the time.
            std::max<std::uint32_t>(
                4, read_dword_setting(settings.machine_key(), names::port_mapping_lifetime).value_or(3600))};
}

} // namespace tiv::app
