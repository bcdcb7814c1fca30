#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "net/box/box_ledger.h"
#include "net/transfer/parcel_receipt.h"

namespace tiv {

struct friend_profile;

// Whether a parcel of `file_size` bytes from `sender` may be stored in `parcel_box`: the refusal the sender is told,
// its text in words for the log, or none, with `slot` then holding the parcel's `entries` reserved in the box's
// count. The friend's settings decide: receipt enabled, the largest file (unless unlimited) and the number of
// entries the parcel box may hold (unless unlimited). A folder is one parcel: its whole size is held to the largest
// file, and it must fit the count with its own directory, those inside and all its files.
[[nodiscard]] std::optional<parcel_receipt> parcel_refusal(const friend_profile& sender, box_ledger& ledger,
                                                           const std::string& parcel_box, std::uint64_t file_size,
                                                           std::uint64_t entries, box_ledger::reservation& slot);

} // namespace tiv
