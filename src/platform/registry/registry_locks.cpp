#include "platform/registry/registry_locks.h"

#include <cstdarg>
#include <fcntl.h>
#include <mutex>
#include <sys/types.h>
#include <unistd.h>
#include <unordered_map>

#include <sqlite3.h>

namespace tiv::reg::locks {

namespace {

// Which process opened each descriptor SQLite holds, so a descriptor inherited through fork() is told apart.
struct descriptor_openers {
    std::mutex oMutex;
    std::unordered_map<int, pid_t> aByDescriptor;
};

descriptor_openers& openers() {
    static descriptor_openers instance;
    return instance;
}

bool opened_here(int fd) {
    descriptor_openers& table = openers();
    const std::lock_guard lock(table.oMutex);
    const auto it = table.aByDescriptor.find(fd);
    return it != table.aByDescriptor.end() && it->second == ::getpid();
}

int open_recorded(const char* path, int flags, int mode) {
    const int fd = ::open(path, flags, static_cast<mode_t>(mode));
    if (fd >= 0) {
        descriptor_openers& table = openers();
        const std::lock_guard lock(table.oMutex);
        table.aByDescriptor[fd] = ::getpid();
    }
    return fd;
}

int close_recorded(int fd) {
    // Forgotten before the close, so an open on another thread that gets the number next keeps its record.
    {
        descriptor_openers& table = openers();
        const std::lock_guard lock(table.oMutex);
        table.aByDescriptor.erase(fd);
    }
    return ::close(fd);
}

int description_command(int command) {
    switch (command) {
    case F_SETLK:
        return F_OFD_SETLK;
    case F_SETLKW:
        return F_OFD_SETLKW;
    case F_GETLK:
        return F_OFD_GETLK;
    default:
        return 0;
    }
}

int fcntl_by_description(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    const int locking = description_command(command);
    if (locking == 0) {
        // SQLite's other fcntl calls (descriptor flags) all pass an int.
        const int argument = va_arg(arguments, int);
        va_end(arguments);
        return ::fcntl(fd, command, argument);
    }
    auto* region = va_arg(arguments, struct flock*);
    va_end(arguments);
    if (!opened_here(fd)) {
        return ::fcntl(fd, command, region);
    }
    // The kernel refuses a description lock whose pid is not zero, and SQLite leaves the field unset.
    region->l_pid = 0;
    return ::fcntl(fd, locking, region);
}

bool install() {
    sqlite3_vfs* unix_vfs = ::sqlite3_vfs_find("unix");
    if (unix_vfs == nullptr || unix_vfs->iVersion < 3 || unix_vfs->xSetSystemCall == nullptr) {
        return false;
    }
    const auto replace = [unix_vfs](const char* name, sqlite3_syscall_ptr call) {
        return unix_vfs->xSetSystemCall(unix_vfs, name, call) == SQLITE_OK;
    };
    // Openings are recorded before any lock depends on the record.
    return replace("open", reinterpret_cast<sqlite3_syscall_ptr>(&open_recorded)) &&
           replace("close", reinterpret_cast<sqlite3_syscall_ptr>(&close_recorded)) &&
           replace("fcntl", reinterpret_cast<sqlite3_syscall_ptr>(&fcntl_by_description));
}

} // namespace

bool lock_by_open_description() {
    static const bool installed = install();
    return installed;
}

} // namespace tiv::reg::locks
