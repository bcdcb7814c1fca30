#pragma once

#include "settings/qvl_settings_data.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv::test {

// A first run listens on the default route's address, which a router could forward to: a test's program never
// asks it, so no packet of the test leaves this computer.
[[nodiscard]] inline bool keep_off_the_router(const qvl_settings_data& settings) {
    return write_dword_setting(settings.machine_key(), names::port_mapping, 0);
}

} // namespace tiv::test
