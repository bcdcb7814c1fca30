#pragma once

#include <array>
#include <vector>

namespace tiv::ui {

struct transfer_column {
    const char* heading;
    int width; // pixels: the width a list opens with, and the narrowest fitting ever leaves
};

inline constexpr std::array<transfer_column, 7> transfer_columns{{
    {"File Name", 80},
    {"Status", 90},
    {"Size (bytes)", 75},
    {"Xferred (bytes)", 90},
    {"Percent", 50},
    {"Identity", 90},
    {"IP:PORT", 120},
}};

// The columns' widths after the list became `width` pixels wide: each keeps its share of the current total,
// truncated, and never falls below its opening width.
[[nodiscard]] std::vector<int> fittedColumnWidths(const std::vector<int>& current, int width);

} // namespace tiv::ui
