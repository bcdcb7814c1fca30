#pragma once

#include <unistd.h>
#include <utility>

namespace tiv {

// Owns one POSIX file descriptor; -1 means none.
class unique_fd {
public:
    unique_fd() = default;
    explicit unique_fd(int fd) : m_nFd(fd) {}
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    unique_fd(unique_fd&& other) noexcept : m_nFd(std::exchange(other.m_nFd, -1)) {}
    unique_fd& operator=(unique_fd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.m_nFd, -1));
        }
        return *this;
    }
    ~unique_fd() { reset(); }

    [[nodiscard]] int get() const { return m_nFd; }
    explicit operator bool() const { return m_nFd >= 0; }
    int release() { return std::exchange(m_nFd, -1); }
    void reset(int fd = -1) {
        if (m_nFd >= 0) {
            ::close(m_nFd);
        }
        m_nFd = fd;
    }

private:
    int m_nFd = -1;
};

} // namespace tiv
