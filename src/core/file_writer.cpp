#include "core/file_writer.h"

#include <fcntl.h>
#include <unistd.h>

namespace tiv {

unique_fd file_writer::open_at(int directory, const char* name, int flags, mode_t mode) {
    return unique_fd(::openat(directory, name, flags, mode));
}

ssize_t file_writer::write(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}

int file_writer::sync(int fd) {
    return ::fsync(fd);
}

int file_writer::close(unique_fd fd) {
    return fd ? ::close(fd.release()) : 0;
}

file_writer& real_file_writer() {
    static file_writer writer;
    return writer;
}

std::shared_ptr<file_writer> shared_real_file_writer() {
    // No owner: the writer lives as long as the process.
    return {std::shared_ptr<void>(), &real_file_writer()};
}

} // namespace tiv
