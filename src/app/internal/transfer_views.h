#pragma once

#include "app/internal/only.h"

// Between the transfers below src/app and the views it hands to front ends.

#include <vector>

#include "app/transfer_view.h"
#include "net/transfer/transfer_snapshot.h"

namespace tiv::app {

// A state outside the known ones reads as undefined, as the log names it.
[[nodiscard]] transfer_view view_of(const transfer_snapshot& snapshot);
[[nodiscard]] std::vector<transfer_view> views_of(const std::vector<transfer_snapshot>& snapshots);

} // namespace tiv::app
