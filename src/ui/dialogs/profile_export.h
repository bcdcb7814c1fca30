#pragma once

#include "app/program.h"
#include "app/questions.h"

namespace tiv::ui {

// "&Export User Profile": the save chooser, then this user's profile file where the user chose, for friends to
// import. Nothing is said on success; keys that cannot be read are told before the chooser, a failed write after it,
// each with its reason.
void exportUserProfile(app::questions& questions, app::program& program);

} // namespace tiv::ui
