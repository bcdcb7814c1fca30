#include "net/single_file/transfer_file.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "core/regular_file.h"

namespace tiv {

std::string without_trailing_separator(std::string directory) {
    while (directory.size() > 1 && (directory.back() == '/' || directory.back() == '\\')) {
        directory.pop_back();
    }
    return directory;
}

bool transfer_file::open_file(const std::string& name, int open_mode) {
    if (mode != closed) {
        (void)close_file();
    }
    path = !name.empty() && name.front() == '/' ? name : directory + "/" + name;
    if (open_mode == writing) {
        adopt_for_writing(
            m_pWriter->open_at(AT_FDCWD, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600),
            path, 0);
        return mode == writing;
    }
    struct stat info {};
    // Only a regular file has an end to send; a pipe or device would hold the transfer open for ever, and a FIFO
    // without a writer would block the open itself.
    if (open_regular_file(path, m_oHandle, info) != file_read::ok) {
        m_oHandle.reset();
        return false;
    }
    mode = reading;
    size = static_cast<std::uint64_t>(info.st_size);
    remaining = size;
    done = 0;
    mtime_ns = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    return true;
}

bool transfer_file::seek_to(std::uint64_t offset) {
    if (mode != reading || ::lseek(m_oHandle.get(), static_cast<off_t>(offset), SEEK_SET) < 0) {
        return false;
    }
    done = offset;
    remaining = size - std::min(size, offset);
    return true;
}

void transfer_file::adopt_for_writing(unique_fd fd, std::string path_shown, std::uint64_t already_written) {
    if (mode != closed) {
        (void)close_file();
    }
    path = std::move(path_shown);
    if (!fd) {
        return;
    }
    m_oHandle = std::move(fd);
    mode = writing;
    size = already_written;
    done = 0;
    remaining = 0;
}

std::int64_t transfer_file::read_chunk(void* buffer, std::size_t n) {
    if (mode != reading) {
        return 0;
    }
    for (;;) {
        const ssize_t count = ::read(m_oHandle.get(), buffer, n);
        if (count >= 0) {
            done += static_cast<std::uint64_t>(count);
            remaining -= std::min(remaining, static_cast<std::uint64_t>(count));
            return count;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

bool transfer_file::write_all(const void* buffer, std::size_t n) {
    if (mode != writing) {
        return false;
    }
    const auto* bytes = static_cast<const char*>(buffer);
    std::size_t written = 0;
    while (written < n) {
        const ssize_t count = m_pWriter->write(m_oHandle.get(), bytes + written, n - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count == 0) { // nothing taken and no error: the caller's reason must not be a stale errno
            errno = ENOSPC;
        }
        if (count <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(count);
        size += static_cast<std::uint64_t>(count);
    }
    return true;
}

bool transfer_file::close_file() {
    const bool was_writing = mode == writing;
    size = 0;
    done = 0;
    remaining = 0;
    mode = closed;
    if (!m_oHandle) {
        return true;
    }
    if (!was_writing) {
        m_oHandle.reset();
        return true;
    }
    return m_pWriter->close(std::move(m_oHandle)) == 0;
}

} // namespace tiv
