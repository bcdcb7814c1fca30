#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tiv {

struct friend_profile;

// Why a parcel of `file_size` bytes from `sender` may not be stored in `parcel_box`, in words for the log; none
// when it may. The friend's settings decide: receipt enabled, the largest file (unless unlimited) and the number of
// files the parcel box may hold (unless unlimited). A folder is one parcel of `files` files: its whole size is held
// to the largest file, and all its files must fit the count.
[[nodiscard]] std::optional<std::string> parcel_refusal(const friend_profile& sender, const std::string& parcel_box,
                                                        std::uint64_t file_size, std::uint64_t files = 1);

// Whether the parcel `file_name` of `file_size` bytes from `sender` may be stored in `parcel_box`. The friend's
// receipt policy binds every kind of connection alike, so it is decided here once, after any authentication; a
// refusal writes one log line naming the reason.
[[nodiscard]] bool accept_file(const friend_profile& sender, const std::string& parcel_box,
                               const std::string& file_name, std::uint64_t file_size);

// The parcels in a directory: its regular files and those in the folders below it (down to max_folder_depth, never
// through a link), less our temporary files and kept parts (0 when it cannot be read). Other names with a leading
// dot count like any file, as a friend may send one and must not get past the limit that way.
[[nodiscard]] std::uint64_t count_files(const std::string& directory);

} // namespace tiv
