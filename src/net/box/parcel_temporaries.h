#pragma once

#include <string>
#include <vector>

#include "core/unique_fd.h"
#include "net/single_file/transfer_file.h"

namespace tiv {

// A receiving transfer's hold on its temporary file: an advisory lock (flock) on a descriptor of its own, so it
// outlasts the writer's close and ends only with this object, after the file has been renamed into place or
// removed. The kernel drops it when the process dies, however it dies; that is what makes a leftover recognisable.
class temporary_parcel_claim {
public:
    temporary_parcel_claim() = default;
    temporary_parcel_claim(const temporary_parcel_claim&) = delete;
    temporary_parcel_claim& operator=(const temporary_parcel_claim&) = delete;

    // Creates a new temporary file (temporary_parcel_name) in `file.directory` through `file.writer()`, leaves it
    // open for writing in `file` and holds it. False when no file could be created; nothing is left behind then.
    [[nodiscard]] bool create(transfer_file& file);
    // The same in the directory open as `dir_fd` (a received folder's), looked up through nothing else;
    // `file.path` becomes `dir_path` + "/" + the temporary name, for log lines.
    [[nodiscard]] bool create_in(int dir_fd, const std::string& dir_path, transfer_file& file);

private:
    // `prefix` + the temporary name is looked up from `dir_fd`.
    [[nodiscard]] bool create_below(int dir_fd, const std::string& prefix, const std::string& dir_path,
                                    transfer_file& file);

    unique_fd m_oLock;
};

// Removes the temporary files that no transfer holds, in this process or any other, from the parcel box root, from
// each friend's parcel box directly below it and from the folders received into those (down to max_folder_depth),
// and logs each one. Symbolic links below the root are never followed, and nothing but a regular file of our
// temporary shape is touched. The paths removed.
std::vector<std::string> remove_stale_temporaries(const std::string& parcel_root);

} // namespace tiv
