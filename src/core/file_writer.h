#pragma once

#include <cstddef>
#include <memory>
#include <sys/types.h>

#include "core/unique_fd.h"

namespace tiv {

// The calls that put a received file, a kept part or a private file on disk: open, write, sync and close, each as
// its POSIX call does it (a failure returns -1 or no descriptor, with errno set). This class makes the real calls;
// a test derives from it and overrides the one that is to fail (a disk that fills after N bytes, a write that
// stores less than asked), so the code that must cope with a full disk is run on any machine.
class file_writer {
public:
    file_writer() = default;
    file_writer(const file_writer&) = delete;
    file_writer& operator=(const file_writer&) = delete;
    virtual ~file_writer() = default;

    // openat(2).
    [[nodiscard]] virtual unique_fd open_at(int directory, const char* name, int flags, mode_t mode);
    // write(2): the count written, possibly less than `size`, or -1.
    [[nodiscard]] virtual ssize_t write(int fd, const void* data, std::size_t size);
    // fsync(2).
    [[nodiscard]] virtual int sync(int fd);
    // close(2) of a descriptor written through this writer: 0, or -1 when data may not have reached the disk.
    [[nodiscard]] virtual int close(unique_fd fd);
};

// The real calls, shared by the whole process; it never ends, so it may be held by reference anywhere.
[[nodiscard]] file_writer& real_file_writer();
// The same, for an owner that keeps what it was given alive.
[[nodiscard]] std::shared_ptr<file_writer> shared_real_file_writer();

} // namespace tiv
