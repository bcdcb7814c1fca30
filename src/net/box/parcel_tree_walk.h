#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>

#include "core/unique_fd.h"

namespace tiv {

// Where a walk of the parcel box root starts: the root as the user configured it (a link included); below it
// nothing is followed.
[[nodiscard]] unique_fd open_walk_root(const std::string& path);

// Calls `visit(directory_fd, name, shown_directory)` for each regular file whose name `wanted` accepts in
// `directory` (shown as `shown`) and in the directories inside it, `levels` levels down, every directory whatever
// its name and never through a link. A directory is read whole before its files are visited, so a visit may remove
// the file it is given. `entered` (when set) hears of each directory the walk goes into.
using tree_visit = std::function<void(int directory, const std::string& name, const std::string& shown)>;
void walk_regular_files(unique_fd directory, const std::string& shown, int levels,
                        const std::function<bool(std::string_view)>& wanted, const tree_visit& visit,
                        const std::function<void()>& entered = {});

// Whether two stats are of one file.
[[nodiscard]] bool same_file(const struct stat& a, const struct stat& b);
// Whether `name` in `directory` still names the file open as `fd`, never through a link: a sweep unlinks only
// after locking, so a file locked that is still there under its name can no longer be taken from its holder.
[[nodiscard]] bool still_named(int directory, const char* name, int fd);
// Removes the regular file `name` in `directory` when no transfer holds it (its advisory lock can be had) and
// `removable` accepts it as it is under that lock; never through a link. Whether it was removed.
bool remove_unheld_file(int directory, const char* name, const std::function<bool(const struct stat&)>& removable);

} // namespace tiv
