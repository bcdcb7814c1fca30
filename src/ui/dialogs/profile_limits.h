#pragma once

#include <QStringList>
#include <array>
#include <cstdint>

#include "app/friends/friend_record.h"

namespace tiv::ui {

// The receipt limits a profile offers, as the drop-down lists show them. A stored value that is none of the
// first three shows as "unlimited", so saving it stores unlimited: the lists can show no other value.
inline constexpr std::array<std::uint32_t, 4> max_size_values{10240, 102400, 1024000, app::unlimited};
inline constexpr std::array<std::uint32_t, 4> max_count_values{10, 100, 1000, app::unlimited};

[[nodiscard]] inline QStringList maxSizeItems() {
    return {"10", "100", "1000 (1Mb)", "unlimited"};
}
[[nodiscard]] inline QStringList maxCountItems() {
    return {"10", "100", "1000", "unlimited"};
}

[[nodiscard]] inline int limitIndex(const std::array<std::uint32_t, 4>& values, std::uint32_t stored) {
    for (int index = 0; index < 3; ++index) {
        if (values[static_cast<std::size_t>(index)] == stored) {
            return index;
        }
    }
    return 3;
}

[[nodiscard]] inline int maxSizeIndex(std::uint32_t stored) {
    return limitIndex(max_size_values, stored);
}
[[nodiscard]] inline int maxCountIndex(std::uint32_t stored) {
    return limitIndex(max_count_values, stored);
}
[[nodiscard]] inline std::uint32_t maxSizeValue(int index) {
    return max_size_values.at(static_cast<std::size_t>(index < 0 ? 0 : index));
}
[[nodiscard]] inline std::uint32_t maxCountValue(int index) {
    return max_count_values.at(static_cast<std::size_t>(index < 0 ? 0 : index));
}

} // namespace tiv::ui
