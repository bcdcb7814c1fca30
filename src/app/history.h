#pragma once

#include <cstdint>
#include <vector>

#include "app/status.h"
#include "app/transfer_view.h"

namespace tiv::app {

class program;

// The settings' default "HistoryDays".
inline constexpr std::uint32_t default_history_days = 30;

// The parcels this user sent and received, from every program of theirs that sent or received them (the desktop
// program and the command line alike), kept across restarts for "HistoryDays". Each is the row as it ended:
// finished, with its outcome, its friend, its size and, for a stored parcel, where it was stored. Newest first.
[[nodiscard]] std::vector<transfer_view> read_history(program& p);
// Moves on whenever this program wrote or cleared history, so a window reads it again only then.
[[nodiscard]] std::uint64_t history_generation(program& p);
// Forgets every row; what this program still had to write goes too.
[[nodiscard]] status clear_history(program& p);

} // namespace tiv::app
