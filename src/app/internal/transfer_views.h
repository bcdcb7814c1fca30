#pragma once

// Between the transfers below src/app and the views it hands to front ends; only src/app includes this header.

#include <vector>

#include "app/events.h"
#include "app/transfer_view.h"
#include "net/transfer/thread_bundle.h"
#include "net/transfer/transfer_snapshot.h"

namespace tiv::app {

// A state outside the known ones reads as undefined, as the log names it.
[[nodiscard]] transfer_view view_of(const transfer_snapshot& snapshot);
[[nodiscard]] std::vector<transfer_view> views_of(const std::vector<transfer_snapshot>& snapshots);

// A transfer list's listener that hands each start and end to `events`, which must outlive the list's transfers.
[[nodiscard]] thread_bundle::transfer_listener transfer_changes_to(event_sink& events);

} // namespace tiv::app
