#pragma once

#include "app/internal/only.h"

#include "app/internal/engine_objects.h"
#include "app/receive_service.h"

namespace tiv::app {

// The listener's configuration as the settings hold it now.
[[nodiscard]] listen_config listen_config_of(const qvl_settings_data& settings);

} // namespace tiv::app
