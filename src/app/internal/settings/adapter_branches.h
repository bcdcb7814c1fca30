#pragma once

#include "app/internal/only.h"

#include <vector>

#include "app/settings/program_options.h"
#include "platform/adapters.h"

namespace tiv::app {

// The adapters as tree items, one branch each, as the options dialog shows the machine's own.
[[nodiscard]] std::vector<tree_item> adapter_branches(const std::vector<adapter_info>& adapters);

} // namespace tiv::app
