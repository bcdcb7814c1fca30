#include "app/internal/settings/receiver_readiness.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/internal/key_service.h"
#include "core/unique_fd.h"
#include "log/activity_log.h"
#include "net/box/parcel_names.h"
#include "platform/paths.h"
#include "settings/qvl_settings_data.h"

namespace tiv::app {

namespace {
std::string errno_text(int error) {
    return std::strerror(error);
}

status root_failure(const std::string& root, const std::string& reason) {
    return {status_code::io_failure, "the parcel box root " + root + " " + reason + "."};
}

// Why mkdir refused: a parent that is there yet takes no new folder gives "no such file" on some file systems.
std::string creation_refusal(const std::string& root, int error) {
    if (struct stat link{}; error == EEXIST && ::lstat(root.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        return "it is a symbolic link to nothing";
    }
    if (error != ENOENT) {
        return errno_text(error);
    }
    const std::string parent = paths::parent_directory(root);
    struct stat info {};
    if (!parent.empty() && ::stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        return "its folder " + parent + " takes no new folders";
    }
    return errno_text(error);
}

// Whoever owns the root may plant a friend's box in it before the first parcel, and the receiver refuses a box that
// is not ours: that friend would be locked out. So the root is ours, or refused.
status check_root_owner(const std::string& root, const struct stat& info) {
    struct stat link {};
    const bool linked = ::lstat(root.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    if (info.st_uid != ::geteuid()) {
        return {status_code::invalid, "the parcel box root " + root +
                                          (linked ? " is a symbolic link to a directory of another user (uid "
                                                  : " belongs to another user (uid ") +
                                          std::to_string(info.st_uid) + ")."};
    }
    // Ours today, a link may be turned to another folder at any time after the root was found fit.
    if (linked) {
        return {status_code::invalid, "the parcel box root " + root + " is a symbolic link; choose the folder itself."};
    }
    return {};
}

// Only making a file shows what permissions, ACLs and read-only mounts together allow. It has the temporary shape,
// so a crash right here leaves nothing a start-up sweep would not remove.
status check_root_writable(const std::string& root) {
    const std::string probe = root + "/" + temporary_parcel_name();
    const unique_fd file(::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file) {
        // Some file systems (/proc, /sys) say "no such file" for a file they will not make.
        const int error = errno;
        return root_failure(root, error == ENOENT ? "is not writable: it takes no new files"
                                                  : "is not writable: " + errno_text(error));
    }
    ::unlink(probe.c_str());
    return {};
}
} // namespace

status prepare_parcel_root(const std::string& root) {
    if (root.empty()) {
        return {status_code::invalid, "no parcel box root is set."};
    }
    (void)create_directory_path(root);
    struct stat info {};
    if (::stat(root.c_str(), &info) != 0) {
        // Which level refused is not kept by the creation above; one more try at the root itself says why.
        const int error = ::mkdir(root.c_str(), 0700) == 0 ? 0 : errno;
        if (error != 0) {
            return root_failure(root, "cannot be created: " + creation_refusal(root, error));
        }
    } else if (!S_ISDIR(info.st_mode)) {
        return root_failure(root, "is not a directory");
    }
    const unique_fd directory(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory) {
        return root_failure(root, "cannot be opened: " + errno_text(errno));
    }
    if (::fstat(directory.get(), &info) != 0) {
        return root_failure(root, "cannot be read: " + errno_text(errno));
    }
    if (status own = check_root_owner(root, info); !own) {
        return own;
    }
    if (status writable = check_root_writable(root); !writable) {
        return writable;
    }
    // Others may not even look in.
    if ((info.st_mode & 077) != 0 && ::fchmod(directory.get(), 0700) != 0) {
        return root_failure(root, "cannot be made private: " + errno_text(errno));
    }
    return {};
}

status check_receiving_keys(const qvl_settings_data& settings, const crypto_provider& provider) {
    return check_user_keys(settings, provider);
}

status open_log_file(const std::string& path) {
    const auto failure = [&path](const std::string& reason) {
        return status(status_code::io_failure, "the activity log " + path + " cannot be written: " + reason + ".");
    };
    // A log this process already holds would stand in the way of its own probe below.
    close_activity_log();
    (void)paths::make_directories(paths::parent_directory(path));
    {
        const unique_fd probe(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
        if (!probe) {
            return failure(errno_text(errno));
        }
        if (::flock(probe.get(), LOCK_EX | LOCK_NB) != 0) {
            return failure(errno == EWOULDBLOCK ? "another running program writes to it" : errno_text(errno));
        }
    }
    if (!open_activity_log(path)) {
        return failure("its header could not be written");
    }
    return {};
}

} // namespace tiv::app
