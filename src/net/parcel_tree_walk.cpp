#include "net/parcel_tree_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace tiv {

unique_fd open_walk_root(const std::string& path) {
    return unique_fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

void walk_regular_files(unique_fd directory, const std::string& shown, int levels,
                        const std::function<bool(std::string_view)>& wanted, const tree_visit& visit) {
    if (!directory) {
        return;
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(directory.get()), ::closedir);
    if (listing == nullptr) {
        return;
    }
    (void)directory.release();
    const int fd = ::dirfd(listing.get());
    std::vector<std::string> files;
    std::vector<std::string> directories;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        struct stat info {};
        if (name == "." || name == ".." || ::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (S_ISREG(info.st_mode) && wanted(name)) {
            files.push_back(name);
        } else if (S_ISDIR(info.st_mode) && levels > 0) {
            directories.push_back(name);
        }
    }
    for (const std::string& name : files) {
        visit(fd, name, shown);
    }
    for (const std::string& name : directories) {
        walk_regular_files(unique_fd(::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)),
                           shown + "/" + name, levels - 1, wanted, visit);
    }
}

} // namespace tiv
