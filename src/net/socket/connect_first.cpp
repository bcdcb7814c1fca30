#include "net/socket/connect_first.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <vector>

#include "core/unique_fd.h"

namespace tiv {

namespace {

using clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds stop_poll_interval{100};

// A losing attempt is closed at once (unique_fd): the orderly close of a socket still connecting would wait for
// nothing.
struct attempt {
    unique_fd socket;
    std::size_t index = 0;
};

bool set_blocking(int fd, bool blocking) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

// A connection sends without waiting to fill a segment, as every socket of the socket layer does.
unique_fd open_attempt(int family) {
    unique_fd opened(::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const int on = 1;
    if (opened && ::setsockopt(opened.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
        opened.reset();
    }
    return opened;
}

int pending_error(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 ? errno : error;
}

int milliseconds_until(clock::time_point moment) {
    const auto left = std::chrono::duration_cast<milliseconds>(moment - clock::now()).count();
    return static_cast<int>(std::clamp<std::int64_t>(left, 0, 60 * 60 * 1000));
}

class racing_connect {
public:
    racing_connect(std::span<const net_address> candidates, int timeout_ms, const std::function<bool()>& stopped)
        : m_aCandidates(candidates), m_fStopped(stopped),
          m_tDeadline(clock::now() + milliseconds(std::max(timeout_ms, 1))) {}

    sys_status run(net_socket& socket, std::size_t& winner);

private:
    // Starts the attempt at the next candidate: true when it connected at once.
    bool start_next();
    void fail(const net_address& where, int error);
    sys_status win(attempt& won, net_socket& socket, std::size_t& winner);

    std::span<const net_address> m_aCandidates;
    const std::function<bool()>& m_fStopped;
    clock::time_point m_tDeadline;
    clock::time_point m_tNextStart = clock::now();
    std::size_t m_nNext = 0;
    std::vector<attempt> m_aRunning;
    sys_status m_oLastFailure = sys_failure(EDESTADDRREQ, "cannot connect: no address to connect to");
};

void racing_connect::fail(const net_address& where, int error) {
    m_oLastFailure = sys_failure(error, "cannot connect to " + endpoint_text(where));
    m_tNextStart = clock::now(); // a failed attempt lets the next one start without waiting
}

bool racing_connect::start_next() {
    const net_address& where = m_aCandidates[m_nNext];
    attempt next{open_attempt(where.family()), m_nNext++};
    m_tNextStart = clock::now() + milliseconds(connection_attempt_delay_ms);
    if (!next.socket) {
        m_oLastFailure = sys_failure(errno, "cannot create a socket");
        m_tNextStart = clock::now();
        return false;
    }
    if (::connect(next.socket.get(), where.socket_address(), where.socket_length()) == 0) {
        m_aRunning.push_back(std::move(next));
        return true;
    }
    if (errno != EINPROGRESS && errno != EINTR) {
        fail(where, errno);
        return false;
    }
    m_aRunning.push_back(std::move(next));
    return false;
}

sys_status racing_connect::win(attempt& won, net_socket& socket, std::size_t& winner) {
    if (!set_blocking(won.socket.get(), true)) {
        return sys_failure(errno, "cannot connect to " + endpoint_text(m_aCandidates[won.index]));
    }
    close_socket(socket);
    socket.handle = won.socket.release();
    winner = won.index;
    m_aRunning.clear();
    return {};
}

sys_status racing_connect::run(net_socket& socket, std::size_t& winner) {
    for (;;) {
        if (m_nNext < m_aCandidates.size() && clock::now() >= m_tNextStart && start_next()) {
            return win(m_aRunning.back(), socket, winner);
        }
        if (m_aRunning.empty()) {
            if (m_nNext >= m_aCandidates.size()) {
                return std::move(m_oLastFailure);
            }
            continue; // the last attempt failed at once: the next starts now
        }
        if (m_fStopped && m_fStopped()) {
            return sys_failure(ECANCELED, "the connection was given up");
        }
        if (clock::now() >= m_tDeadline) {
            return sys_failure(ETIMEDOUT, "cannot connect to " + endpoint_text(m_aCandidates[m_aRunning[0].index]));
        }
        std::vector<pollfd> watched;
        for (const attempt& running : m_aRunning) {
            watched.push_back({running.socket.get(), POLLOUT, 0});
        }
        // A stop is looked at this often while the attempts wait.
        const clock::time_point wake = std::min({m_nNext < m_aCandidates.size() ? m_tNextStart : m_tDeadline,
                                                 m_tDeadline, clock::now() + stop_poll_interval});
        const int ready = ::poll(watched.data(), watched.size(), milliseconds_until(wake));
        if (ready < 0 && errno != EINTR) {
            return sys_failure(errno, "cannot connect");
        }
        for (std::size_t i = watched.size(); ready > 0 && i-- > 0;) {
            if (watched[i].revents == 0) {
                continue;
            }
            const int error = pending_error(watched[i].fd);
            if (error == 0) {
                return win(m_aRunning[i], socket, winner);
            }
            fail(m_aCandidates[m_aRunning[i].index], error);
            m_aRunning.erase(m_aRunning.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

} // namespace

sys_status connect_first(net_socket& socket, std::span<const net_address> candidates, int timeout_ms,
                         std::size_t& winner, const std::function<bool()>& stopped) {
    return racing_connect(candidates, timeout_ms, stopped).run(socket, winner);
}

} // namespace tiv
