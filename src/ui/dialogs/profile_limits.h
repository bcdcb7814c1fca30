#pragma once

#include <QStringList>
#include <array>
#include <cstdint>

#include "app/friends/friend_record.h"

namespace tiv::ui {

// The receipt limits a profile offers, as the drop-down lists show them. A stored value that is none of the others
// shows as "unlimited", so saving it stores unlimited: the lists can show no other value. The sizes of a photo
// folder and a video follow the three small ones, as the first question about a new friend offers them.
inline constexpr std::array<std::uint32_t, 6> max_size_values{10240,       102400,        1024000,
                                                              100'000'000, 4'000'000'000, app::unlimited};
inline constexpr std::array<std::uint32_t, 4> max_count_values{10, 100, 1000, app::unlimited};

[[nodiscard]] inline QStringList maxSizeItems() {
    return {"10", "100", "1000 (1Mb)", "100 MB", "4 GB", "unlimited"};
}
[[nodiscard]] inline QStringList maxCountItems() {
    return {"10", "100", "1000", "unlimited"};
}

template <std::size_t N>
[[nodiscard]] int limitIndex(const std::array<std::uint32_t, N>& values, std::uint32_t stored) {
    for (std::size_t index = 0; index + 1 < N; ++index) {
        if (values[index] == stored) {
            return static_cast<int>(index);
        }
    }
    return static_cast<int>(N - 1);
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
