#pragma once

#include <array>
#include <vector>

namespace tiv::ui {

struct transfer_column {
    const char* heading;
    int width; // pixels: the width a list opens with, and the narrowest fitting ever leaves
};

// The columns in their order; sizes are shown in units, so their headings no longer say "(bytes)".
enum class TransferColumn { name, status, size, done, percent, speed, time_left, identity, address };

inline constexpr std::array<transfer_column, 9> transfer_columns{{
    {"File Name", 80},
    {"Status", 90},
    {"Size", 65},
    {"Xferred", 65},
    {"Percent", 70},
    {"Speed", 70},
    {"Time left", 70},
    {"Identity", 90},
    {"IP:PORT", 120},
}};

[[nodiscard]] constexpr int columnIndex(TransferColumn column) {
    return static_cast<int>(column);
}

// The columns' widths after the list became `width` pixels wide: each keeps its share of the current total,
// truncated, and never falls below its opening width.
[[nodiscard]] std::vector<int> fittedColumnWidths(const std::vector<int>& current, int width);

} // namespace tiv::ui
