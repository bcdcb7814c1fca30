#include "net/socket_thread.h"

#include <sys/socket.h>
#include <unistd.h>

#include "net/connection_io.h"

namespace tiv {

namespace {
std::uint64_t next_transfer_id() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}
} // namespace

socket_thread::socket_thread() : socket(std::make_unique<net_socket>()), m_nId(next_transfer_id()) {
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

void socket_thread::set_file_size(std::uint64_t size) {
    std::lock_guard guard(m_oLock);
    m_nFileSize = size;
}

void socket_thread::set_stored_path(const std::string& path) {
    std::lock_guard guard(m_oLock);
    m_strStoredPath = path;
}

transfer_snapshot socket_thread::snapshot() const {
    transfer_snapshot copy;
    copy.id = m_nId;
    copy.direction = direction;
    {
        std::lock_guard guard(m_oLock);
        copy.friend_name = m_strPeerName;
        copy.file_name = m_oRecord.file_name;
        copy.stored_path = m_strStoredPath;
        copy.size = m_nFileSize != 0 ? m_nFileSize : m_oRecord.file_size;
    }
    copy.finished = finished;
    copy.bytes_done = bytes_transferred;
    copy.state = state;
    copy.failed = failed != 0;
    copy.status = status_code;
    copy.status_text = copy.failed ? transfer_status_text(copy.status, direction == transfer_direction::sending) : "";
    copy.start_time = start_time;
    copy.end_time = end_time;
    copy.seconds = copy.finished ? elapsed.load() : clock_now() - started_at.load();
    copy.rate = copy.seconds > 0 ? static_cast<double>(copy.bytes_done) / copy.seconds : 0.0;
    return copy;
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
