#pragma once

#include <optional>
#include <string>

#include "net/transfer_snapshot.h"

namespace tiv::ui {

// What a transfer's row says, decided here once for the main window and every send window.

// "xferring..." while it runs; "COMPLETED" only for a transfer that ended whole and unfailed; otherwise
// "ERROR: " with the state it stopped in and, when known, why ("ERROR: COMPLETED (the transfer was stopped)"):
// a stopped or refused transfer must never read as a delivered one.
[[nodiscard]] std::string transferStatusText(const transfer_snapshot& transfer);

// "%3.0f%%" of the bytes done. An empty file is 100 % once delivered (0 % before); the count is clamped to the
// size, since the receiver only learns the low 32 bits of a size from the record.
[[nodiscard]] std::string transferPercentText(const transfer_snapshot& transfer);

// The record's name once the receiver has it (from VERIFYING_PERMISSIONS on), "<unknown>" before; a sender knows
// its own file's name from the start.
[[nodiscard]] std::string transferFileName(const transfer_snapshot& transfer);

// What the desktop is told when an incoming transfer ends.
struct ParcelNotice {
    std::string summary;
    std::string body;
};

// "Parcel from Alice" / "report.pdf (70,000 bytes) is in your parcel box" once stored, "Parcel from Alice failed"
// with the reason otherwise. Nothing while unfinished, and nothing for a sender who never proved who they are:
// a stranger turned away at the door is no news for the user.
[[nodiscard]] std::optional<ParcelNotice> parcelNotice(const transfer_snapshot& transfer);

} // namespace tiv::ui
