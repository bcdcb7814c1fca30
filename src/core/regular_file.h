#pragma once

#include <cstddef>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

#include "core/unique_fd.h"

namespace tiv {

enum class file_read { ok, unreadable, not_regular, too_large };

// Opens an existing file for reading only when it is a regular file, with `info` filled from the open descriptor.
// The open never blocks: a FIFO without a writer would hold a plain open() for ever, and a FIFO or a device has no
// end to read up to. The descriptor returned blocks as usual.
[[nodiscard]] file_read open_regular_file(const std::string& path, unique_fd& fd, struct stat& info);

// Reads into `buffer` until it is full or the file ends, resuming after signals: the count read, or -1 with errno
// as the failed read left it.
[[nodiscard]] ssize_t read_until_full(int fd, void* buffer, std::size_t size);

// Reads a whole regular file of at most `limit` bytes. Never reads more than one byte past the limit, so a file
// that grows while it is read still cannot make the reader grow with it.
[[nodiscard]] file_read read_regular_file(const std::string& path, std::size_t limit, std::string& text);

} // namespace tiv
