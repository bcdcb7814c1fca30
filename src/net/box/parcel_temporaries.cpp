#include "net/box/parcel_temporaries.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>

#include "log/activity_log.h"
#include "net/box/parcel_names.h"
#include "net/box/parcel_tree_walk.h"
#include "net/stream/received_folder.h"

namespace tiv {

namespace {
// A sweep that locks a new temporary in the moment between its creation and its writer's lock removes it; the
// writer then takes a new name. Two such losses in a row are already beyond belief.
constexpr int claim_attempts = 3;

// Only a temporary that can be locked is stale: its writer holds the lock until the file is gone from that name.
bool remove_if_unclaimed(int directory, const char* name) {
    return remove_unheld_file(directory, name, [](const struct stat&) { return true; });
}

} // namespace

bool temporary_parcel_claim::create(transfer_file& file) {
    // A path relative to the working directory is looked up from it, as open() would.
    return create_below(AT_FDCWD, file.directory + "/", file.directory, file);
}

bool temporary_parcel_claim::create_in(int dir_fd, const std::string& dir_path, transfer_file& file) {
    return create_below(dir_fd, std::string(), dir_path, file);
}

bool temporary_parcel_claim::create_below(int dir_fd, const std::string& prefix, const std::string& dir_path,
                                          transfer_file& file) {
    m_oLock.reset();
    for (int attempt = 0; attempt < claim_attempts; ++attempt) {
        const std::string name = temporary_parcel_name();
        const std::string target = prefix + name;
        file.adopt_for_writing(
            file.writer().open_at(dir_fd, target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600),
            dir_path + "/" + name, 0);
        if (file.mode != transfer_file::writing) {
            return false;
        }
        unique_fd lock(::openat(dir_fd, target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!lock) {
            const bool swept = errno == ENOENT;
            (void)file.close_file();
            if (swept) {
                continue;
            }
            ::unlinkat(dir_fd, target.c_str(), 0);
            return false;
        }
        if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            (void)file.close_file();
            continue;
        }
        // A file system without locks refuses the lock to a sweep just as well, so such a file is never swept; it
        // is written unclaimed rather than refused.
        if (!still_named(dir_fd, target.c_str(), lock.get())) {
            (void)file.close_file();
            continue;
        }
        m_oLock = std::move(lock);
        return true;
    }
    return false;
}

std::vector<std::string> remove_stale_temporaries(const std::string& parcel_root) {
    std::vector<std::string> removed;
    // The friends' parcel boxes, then the folders received into them.
    walk_regular_files(open_walk_root(parcel_root), without_trailing_separator(parcel_root),
                       1 + static_cast<int>(max_folder_depth), is_temporary_parcel_name,
                       [&](int directory, const std::string& name, const std::string& shown) {
                           if (remove_if_unclaimed(directory, name.c_str())) {
                               const std::string path = shown + "/" + name;
                               log_activity("Removed the unfinished temporary file %s", path.c_str());
                               removed.push_back(path);
                           }
                       });
    return removed;
}

} // namespace tiv
