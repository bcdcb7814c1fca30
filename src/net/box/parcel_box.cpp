#include "net/box/parcel_box.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/unique_fd.h"
#include "settings/qvl_settings_data.h"

namespace tiv {

std::optional<std::string> prepare_parcel_box(const std::string& root, const std::string& box) {
    if (root.empty() || box.empty()) {
        return std::string("no parcel box root is set");
    }
    if (box != root) {
        (void)create_directory_path(root);
    }
    if (::mkdir(box.c_str(), 0700) != 0 && errno != EEXIST) {
        return "the parcel box " + box + " cannot be created: " + std::strerror(errno);
    }
    const unique_fd directory(::open(box.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory) {
        const int error = errno;
        struct stat link {};
        if (::lstat(box.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            return "the parcel box " + box + " is a symbolic link";
        }
        return "the parcel box " + box + " cannot be opened: " + std::strerror(error);
    }
    struct stat info {};
    if (::fstat(directory.get(), &info) != 0) {
        return "the parcel box " + box + " cannot be read: " + std::strerror(errno);
    }
    if (info.st_uid != ::geteuid()) {
        return "the parcel box " + box + " belongs to another user (uid " + std::to_string(info.st_uid) + ")";
    }
    if ((info.st_mode & 077) != 0 && ::fchmod(directory.get(), 0700) != 0) {
        return "the parcel box " + box + " cannot be made private: " + std::strerror(errno);
    }
    return std::nullopt;
}

} // namespace tiv
