#include "net/socket_thread.h"

#include <sys/socket.h>
#include <unistd.h>

#include "net/connection_io.h"

namespace tiv {

socket_thread::socket_thread() : socket(std::make_unique<net_socket>()) {
    m_bTransfer = true;
}

// Only reached once no body runs: the body holds a reference to its own object.
socket_thread::~socket_thread() = default;

double socket_thread::statistic(int selector) const {
    const bool done = finished;
    const double bytes = static_cast<double>(bytes_transferred.load());
    const double seconds = done ? elapsed.load() : clock_now() - started_at.load();
    switch (selector) {
    case 0:
        return done ? bytes : 0.0;
    case 1:
        return done ? seconds : 0.0;
    case 2:
        return done ? 0.0 : bytes;
    case 3:
        return done ? 0.0 : seconds;
    case 4:
        return done && seconds > 0 ? bytes / seconds : 0.0;
    case 5:
        return !done && seconds > 0 ? bytes / seconds : 0.0;
    default:
        return 0.0;
    }
}

file_record socket_thread::record() const {
    std::lock_guard guard(m_oLock);
    return m_oRecord;
}

void socket_thread::set_record(const file_record& record) {
    std::lock_guard guard(m_oLock);
    m_oRecord = record;
}

std::string socket_thread::peer_name() const {
    std::lock_guard guard(m_oLock);
    return m_strPeerName;
}

void socket_thread::set_peer_name(const std::string& name) {
    std::lock_guard guard(m_oLock);
    m_strPeerName = name;
}

bool socket_thread::create_socket() {
    std::lock_guard guard(m_oLock);
    return open_tcp_socket(*socket);
}

void socket_thread::wake() {
    std::lock_guard guard(m_oLock);
    // shutdown, not close: the descriptor stays the body's until it lets go of it, so it cannot be reused under it.
    if (socket != nullptr && socket->handle >= 0) {
        ::shutdown(socket->handle, SHUT_RDWR);
    }
}

void socket_thread::release_handle() {
    std::lock_guard guard(m_oLock);
    if (socket->handle >= 0) {
        ::close(socket->handle);
        socket->handle = -1;
    }
}

peer_ending socket_thread::close_connection() {
    const peer_ending ending = half_close_and_await_peer(*socket);
    release_handle();
    return ending;
}

void socket_thread::abort_connection() {
    if (socket->handle >= 0) {
        set_abortive_close(*socket);
    }
    release_handle();
}

} // namespace tiv
