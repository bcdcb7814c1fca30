#include "net/parcel_temporaries.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>

#include "log/activity_log.h"
#include "net/parcel_names.h"
#include "net/parcel_tree_walk.h"
#include "net/received_folder.h"

namespace tiv {

namespace {
// A sweep that locks a new temporary in the moment between its creation and its writer's lock removes it; the
// writer then takes a new name. Two such losses in a row are already beyond belief.
constexpr int claim_attempts = 3;

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `name` in `directory` still names the file open as `fd`: a sweep unlinks only after locking, so a file we
// locked that is still there under its name can no longer be taken from us.
bool still_named(int directory, const std::string& name, int fd) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::fstatat(directory, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           same_file(held, named);
}

// Only a temporary that can be locked is stale: its writer holds the lock until the file is gone from that name.
bool remove_if_unclaimed(int directory, const char* name) {
    const unique_fd file(::openat(directory, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    struct stat held {};
    struct stat named {};
    if (::fstat(file.get(), &held) != 0 || !S_ISREG(held.st_mode) ||
        ::fstatat(directory, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !same_file(held, named)) {
        return false;
    }
    return ::unlinkat(directory, name, 0) == 0;
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
            unique_fd(::openat(dir_fd, target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)),
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
        if (!still_named(dir_fd, target, lock.get())) {
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
