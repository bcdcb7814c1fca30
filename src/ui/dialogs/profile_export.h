#pragma once

#include <optional>
#include <string>

#include "app/program.h"
#include "app/questions.h"

namespace tiv::ui {

// "&Export User Profile": the save chooser, proposing "<name>.prf" in the home folder, then this user's profile
// file where the user chose, for friends to import. The path written, for the window to show; no box is raised on
// success. Keys that cannot be read are told before the chooser, a failed write after it, each with its reason.
[[nodiscard]] std::optional<std::string> exportUserProfile(app::questions& questions, app::program& program);

} // namespace tiv::ui
