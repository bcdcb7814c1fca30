#pragma once

#include "cli/command.h"

namespace tiv {
class crypto_provider;
class qvl_settings_data;
} // namespace tiv

namespace tiv::cli {

// Loads this user's settings into `settings` and opens the keys as start-up does. Null, with the reason
// printed, when the user has no identity yet.
[[nodiscard]] crypto_provider* open_user_keys(qvl_settings_data& settings, command_io& io);

} // namespace tiv::cli
