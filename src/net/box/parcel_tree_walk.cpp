#include "net/box/parcel_tree_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <vector>

namespace tiv {

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool still_named(int directory, const char* name, int fd) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::fstatat(directory, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           same_file(held, named);
}

bool remove_unheld_file(int directory, const char* name, const std::function<bool(const struct stat&)>& removable) {
    const unique_fd file(::openat(directory, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    struct stat held {};
    if (::fstat(file.get(), &held) != 0 || !S_ISREG(held.st_mode) || !still_named(directory, name, file.get()) ||
        !removable(held)) {
        return false;
    }
    return ::unlinkat(directory, name, 0) == 0;
}

unique_fd open_walk_root(const std::string& path) {
    return unique_fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

void walk_regular_files(unique_fd directory, const std::string& shown, int levels,
                        const std::function<bool(std::string_view)>& wanted, const tree_visit& visit,
                        const std::function<void()>& entered) {
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
        if (entered) {
            entered();
        }
        walk_regular_files(unique_fd(::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)),
                           shown + "/" + name, levels - 1, wanted, visit, entered);
    }
}

} // namespace tiv
