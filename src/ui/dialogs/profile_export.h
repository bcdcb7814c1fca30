#pragma once

#include "app/questions.h"
#include "crypto/crypto_provider.h"
#include "settings/qvl_settings_data.h"

namespace tiv::ui {

// "&Export User Profile": the save chooser, then this user's profile file where the user chose, for friends to
// import. Nothing is said on success; keys that cannot be read are told before the chooser, a failed write after it,
// each with its reason.
void exportUserProfile(app::questions& questions, const qvl_settings_data& settings, crypto_provider& provider);

} // namespace tiv::ui
