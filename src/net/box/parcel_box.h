#pragma once

#include <optional>
#include <string>

namespace tiv {

// Makes sure a friend's parcel box can take a parcel: the box (created when missing, mode 0700, inside a root of
// the same mode) must be a real directory of the user running the program. A box that is a symbolic link or belongs
// to another user is refused and never followed: whoever controls it would choose where parcels go. A box of ours
// that others may read is brought back to 0700. An empty root is refused, so nothing lands below "/".
// None when the box is ready; otherwise the reason, naming the box.
[[nodiscard]] std::optional<std::string> prepare_parcel_box(const std::string& root, const std::string& box);

} // namespace tiv
