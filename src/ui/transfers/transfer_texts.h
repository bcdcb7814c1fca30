#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/transfer_view.h"

namespace tiv::ui {

// What a transfer's row says, decided here once for the main window and every send window.

// "xferring..." while it runs; "COMPLETED" only for a transfer that ended whole and unfailed; otherwise what
// happened, with why: "STOPPED (the transfer was stopped)", "REFUSED (over the size limit)", "FAILED (keys
// differ)". A stopped or refused transfer must never read as a delivered one.
[[nodiscard]] std::string transferStatusText(const app::transfer_view& transfer);

// The bytes a row counts: those done while it runs or once delivered; of a transfer that failed, only what the
// receiver kept of it (a part for the next send), since nothing else of it arrived.
[[nodiscard]] std::uint64_t transferBytesShown(const app::transfer_view& transfer);

// The share of the file the row counts, 0 to 100, as its progress bar draws it.
[[nodiscard]] int transferPercent(const app::transfer_view& transfer);

// "%3.0f%%" of the bytes shown. An empty file is 100 % once delivered (0 % before); the count is clamped to the
// size, since the receiver only learns the low 32 bits of a size from the record.
[[nodiscard]] std::string transferPercentText(const app::transfer_view& transfer);

// The name the file was stored under once stored ("photo2(1).jpg"); before, the record's name once the receiver
// has it (from VERIFYING_PERMISSIONS on), "<unknown>" before that; a sender knows its own file's name from the start.
[[nodiscard]] std::string transferFileName(const app::transfer_view& transfer);

// "950 bytes", "12.3 MB": decimal units, as file managers show sizes.
[[nodiscard]] std::string sizeText(std::uint64_t bytes);

// "5,368,709,120 bytes": the exact count, for a tooltip beside the rounded size.
[[nodiscard]] std::string exactSizeText(std::uint64_t bytes);

// "12.3 MB/s"; empty while nothing is known (no bytes have moved since the row was first seen).
[[nodiscard]] std::string speedText(double bytes_per_second);

// What is left of a running transfer at `bytes_per_second`: "8 s", "2 min 05 s", "1 h 20 min"; empty when it
// has ended or its speed is not known.
[[nodiscard]] std::string timeLeftText(const app::transfer_view& transfer, double bytes_per_second);

// What the desktop is told when a send ends.
struct ParcelNotice {
    std::string summary;
    std::string body;
    // A parcel stored here that the notice can open or show in its folder; empty when none arrived. For a send of
    // several files, the first one stored (its folder holds the others).
    std::string stored_path;
    bool several = false;
};

// One notice per send, from the rows of its connection once all have ended: "Parcel from Alice" / "report.pdf
// (70,000 bytes) is in your parcel box" for one file, "4 parcels from Alice (12.3 MB)" for several, "Folder
// 'album' from Alice (3 files)" for a folder, counting what failed ("3 of 4 parcels ...") and naming the first
// failure's reason. Nothing for a sender who never proved who they are: a stranger turned away at the door is no
// news for the user.
[[nodiscard]] std::optional<ParcelNotice> parcelNotice(const std::vector<app::transfer_view>& send);

// What the sender is told once every file of a send it started has ended: "report.pdf delivered to Bob", "4 files
// delivered to Bob", or "3 of 4 files delivered to Bob" with the first failure's reason. Nothing for no rows.
[[nodiscard]] std::optional<ParcelNotice> sentNotice(const std::vector<app::transfer_view>& send);

} // namespace tiv::ui
