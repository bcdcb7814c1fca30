#pragma once

#include "settings/qvl_settings_data.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv::test {

// A first run listens on the default route's address, which the LAN reaches: a test's program never announces
// itself there.
[[nodiscard]] inline bool keep_off_the_lan(const qvl_settings_data& settings) {
    return write_dword_setting(settings.machine_key(), names::lan_announce, 0);
}

} // namespace tiv::test
