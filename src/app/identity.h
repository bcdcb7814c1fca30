#pragma once

#include <string>
#include <vector>

#include "app/settings/identity_service.h"
#include "app/settings/raw_settings.h"
#include "app/status.h"

// Who the user of a program is, as its front ends set it up and show it.
namespace tiv::app {

class program;

// Set-up of the machine's or the user's settings is complete once marked so; until then every start writes their
// first-run defaults again.
[[nodiscard]] bool setup_complete(program& p, hive which);
[[nodiscard]] status mark_setup_complete(program& p, hive which);

// Every setting read again as stored; what is missing takes its default, and nothing is written.
void load_settings(program& p);
// The first-run defaults of the settings whose set-up is not complete, then every setting loaded.
void load_settings_with_defaults(program& p);

// Loads every setting; no_identity when this user has no UUID yet (nothing is written).
[[nodiscard]] status require_identity(program& p);

// The first-run set-up without dialogs (identity_service.h: set_up_identity).
[[nodiscard]] status set_up_identity(program& p, const identity_choices& choices, std::vector<std::string>& warnings);

[[nodiscard]] identity_summary describe_identity(program& p);

// The name friends know this user by, as loaded.
[[nodiscard]] std::string user_name(program& p);

} // namespace tiv::app
