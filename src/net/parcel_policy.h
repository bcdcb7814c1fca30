#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tiv {

struct friend_profile;

// Why a parcel of `file_size` bytes from `sender` may not be stored in `parcel_box`, in words for the log; none
// when it may. The friend's settings decide: receipt enabled, the largest file (unless unlimited) and the number of
// files the parcel box may hold (unless unlimited).
[[nodiscard]] std::optional<std::string> parcel_refusal(const friend_profile& sender, const std::string& parcel_box,
                                                        std::uint64_t file_size);

// The regular files in a directory (0 when it cannot be read).
[[nodiscard]] std::uint64_t count_files(const std::string& directory);

} // namespace tiv
