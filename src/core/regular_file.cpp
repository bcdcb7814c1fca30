#include "core/regular_file.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tiv {

file_read open_regular_file(const std::string& path, unique_fd& fd, struct stat& info) {
    unique_fd opened(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!opened || ::fstat(opened.get(), &info) != 0) {
        return file_read::unreadable;
    }
    if (!S_ISREG(info.st_mode)) {
        return file_read::not_regular;
    }
    const int flags = ::fcntl(opened.get(), F_GETFL);
    if (flags < 0 || ::fcntl(opened.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return file_read::unreadable;
    }
    fd = std::move(opened);
    return file_read::ok;
}

ssize_t read_until_full(int fd, void* buffer, std::size_t size) {
    auto* bytes = static_cast<char*>(buffer);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t count = ::read(fd, bytes + got, size - got);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return -1;
        }
        if (count == 0) {
            break;
        }
        got += static_cast<std::size_t>(count);
    }
    return static_cast<ssize_t>(got);
}

file_read read_regular_file(const std::string& path, std::size_t limit, std::string& text) {
    unique_fd fd;
    struct stat info {};
    if (const file_read opened = open_regular_file(path, fd, info); opened != file_read::ok) {
        return opened;
    }
    std::string content(limit + 1, '\0');
    const ssize_t count = read_until_full(fd.get(), content.data(), content.size());
    if (count < 0) {
        return file_read::unreadable;
    }
    const auto got = static_cast<std::size_t>(count);
    if (got > limit) {
        return file_read::too_large;
    }
    content.resize(got);
    text = std::move(content);
    return file_read::ok;
}

} // namespace tiv
