#include "net/transfer/socket_thread.h"

#include <ctime>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

#include "log/activity_log.h"
#include "net/socket/connect_first.h"
#include "net/socket/connection_io.h"
#include "net/stream/parcel_channel.h"
#include "net/transfer/transfer_state.h"

namespace tiv {

namespace {
std::uint64_t next_transfer_id() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

std::int64_t calendar_now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}
} // namespace

socket_thread::socket_thread()
    : socket(std::make_unique<net_socket>()), m_nId(next_transfer_id()), m_nCreatedAt(clock_now()) {
    m_bTransfer = true;
}

// Only reached once no body runs: the body holds a reference to its own object.
socket_thread::~socket_thread() = default;

file_record socket_thread::record() const {
    std::lock_guard guard(m_oLock);
    return m_oProgress.m_oRecord;
}

void socket_thread::set_record(const file_record& record, std::uint64_t size) {
    std::lock_guard guard(m_oLock);
    m_oProgress.m_oRecord = record;
    m_oProgress.m_nSize = size;
}

void socket_thread::begin_parcel(const file_record& record, std::uint64_t size) {
    std::lock_guard guard(m_oLock);
    m_oProgress.m_oRecord = record;
    m_oProgress.m_nSize = size;
    m_oProgress.m_nParcelId = next_transfer_id();
    m_oProgress.m_bInParcel = true;
    m_oProgress.m_nBytesDone = 0;
    m_oProgress.m_nBytesKept = 0;
    m_oProgress.m_strStoredPath.clear();
}

void socket_thread::end_parcel(std::optional<transfer_status> failure, std::string status_words) {
    std::lock_guard guard(m_oLock);
    if (!m_oProgress.m_bInParcel) {
        return;
    }
    transfer_view row = snapshot_locked();
    row.finished = true;
    row.state = failure ? row.state : transfer_state::completed;
    row.failed = failure.has_value();
    row.status = failure.value_or(transfer_status::file_open);
    row.status_text = failure ? std::move(status_words) : std::string();
    if (failure && row.status_text.empty()) {
        row.status_text = transfer_status_text(*failure, direction == transfer_direction::sending);
    }
    row.end_time = calendar_now();
    m_oProgress.m_aEndedParcels.push_back(std::move(row));
    m_oProgress.m_bInParcel = false;
}

void socket_thread::set_folder_name(const std::string& name) {
    std::lock_guard guard(m_oLock);
    m_oProgress.m_strFolder = name;
}

void socket_thread::set_bytes_kept(std::uint64_t bytes) {
    std::lock_guard guard(m_oLock);
    m_oProgress.m_nBytesKept = bytes;
}

void socket_thread::discard_and_stop() {
    m_bDiscard = true;
    request_stop();
}

void socket_thread::begin() {
    std::lock_guard guard(m_oLock);
    m_oProgress.m_nState = transfer_state::initializing;
    m_oProgress.m_nStartTime = calendar_now();
}

void socket_thread::set_state(transfer_state state) {
    std::lock_guard guard(m_oLock);
    m_oProgress.m_nState = state;
}

void socket_thread::set_bytes_done(std::uint64_t bytes) {
    std::lock_guard guard(m_oLock);
    m_oProgress.m_nBytesDone = bytes;
}

void socket_thread::set_stored_path(const std::string& path) {
    std::lock_guard guard(m_oLock);
    m_oProgress.m_strStoredPath = path;
}

void socket_thread::set_resumed_from(std::uint64_t offset) {
    std::lock_guard guard(m_oLock);
    m_oProgress.m_nResumedFrom = offset;
}

void socket_thread::set_peer_name(const std::string& name) {
    std::lock_guard guard(m_oLock);
    m_oProgress.m_strFriendName = name;
}

void socket_thread::end(bool completed, std::optional<transfer_status> status, std::string status_words) {
    std::lock_guard guard(m_oLock);
    if (m_oProgress.m_bFinished) {
        return;
    }
    if (completed) {
        m_oProgress.m_nState = transfer_state::completed;
    }
    if (status) {
        m_oProgress.m_bFailed = true;
        m_oProgress.m_nStatus = *status;
        // Asked to stop, a transfer fails wherever its body noticed: the words say it was stopped, not what broke.
        m_oProgress.m_strStatusWords = stop_requested() ? "the transfer was stopped" : std::move(status_words);
    }
    m_oProgress.m_nEndTime = calendar_now();
    m_oProgress.m_nElapsed = clock_now() - m_nCreatedAt;
    m_oProgress.m_bFinished = true;
}

void socket_thread::body_ended(bool ran) {
    if (ran) {
        end(false);
    } else {
        end(false, transfer_status::memory, "no thread could be started for the transfer");
    }
    // A finished transfer may stay listed for a long time; only its record is worth keeping.
    release_handle();
    authenticator.reset();
}

transfer_view socket_thread::snapshot() const {
    std::lock_guard guard(m_oLock);
    return snapshot_locked();
}

void socket_thread::set_listed(bool listed) {
    std::lock_guard guard(m_oLock);
    m_oProgress.m_bListed = listed;
}

std::vector<transfer_view> socket_thread::rows() const {
    std::lock_guard guard(m_oLock);
    const progress& now = m_oProgress;
    if (!now.m_bListed) {
        return {};
    }
    std::vector<transfer_view> shown = now.m_aEndedParcels;
    if (now.m_bInParcel || shown.empty()) {
        shown.push_back(snapshot_locked());
    }
    for (transfer_view& row : shown) {
        row.connection_ended = now.m_bFinished;
    }
    return shown;
}

bool socket_thread::shows(std::uint64_t id) const {
    std::lock_guard guard(m_oLock);
    return id == m_nId || (m_oProgress.m_bInParcel && id == m_oProgress.m_nParcelId);
}

transfer_view socket_thread::snapshot_locked() const {
    transfer_view copy;
    const progress& now = m_oProgress;
    copy.id = now.m_bInParcel || now.m_nParcelId != 0 ? now.m_nParcelId : m_nId;
    copy.connection = m_nId;
    copy.connection_ended = now.m_bFinished;
    copy.folder_name = now.m_strFolder;
    copy.direction = direction;
    if (peer_address.family() != AF_UNSPEC) {
        copy.peer_address = endpoint_text(peer_address);
    }
    copy.bytes_kept = now.m_nBytesKept;
    copy.friend_name = now.m_strFriendName;
    copy.file_name = now.m_oRecord.file_name;
    copy.stored_path = now.m_strStoredPath;
    copy.size = now.m_nSize;
    copy.bytes_done = now.m_nBytesDone;
    copy.resumed_from = now.m_nResumedFrom;
    copy.state = now.m_nState;
    copy.finished = now.m_bFinished;
    copy.failed = now.m_bFailed;
    copy.status = now.m_nStatus;
    if (copy.failed) {
        copy.status_text = !now.m_strStatusWords.empty()
                               ? now.m_strStatusWords
                               : transfer_status_text(copy.status, direction == transfer_direction::sending);
    }
    copy.start_time = now.m_nStartTime;
    copy.end_time = now.m_nEndTime;
    copy.seconds = copy.finished ? now.m_nElapsed : clock_now() - m_nCreatedAt;
    copy.rate = copy.seconds > 0 ? static_cast<double>(copy.bytes_done) / copy.seconds : 0.0;
    return copy;
}

sys_status socket_thread::connect_to_peer() {
    net_socket connected;
    std::size_t winner = 0;
    std::vector<net_address> candidates = peer_candidates.empty() ? std::vector{peer_address} : peer_candidates;
    const auto stopped = [this] { return stop_requested(); };
    sys_status outcome = connect_first(connected, candidates, io_timeout_ms, winner, stopped);
    if (!outcome && !stop_requested() && fallback_candidates) {
        // The stored address has gone stale; where the friend is now is only a claim, which the authentication that
        // follows checks like any other.
        std::vector<net_address> elsewhere = fallback_candidates();
        if (!elsewhere.empty()) {
            log_activity("%s: trying %s, announced on the LAN for %s.", outcome.text().c_str(),
                         endpoint_text(elsewhere.front()).c_str(), profile.name);
            candidates = std::move(elsewhere);
            outcome = connect_first(connected, candidates, io_timeout_ms, winner, stopped);
        }
    }
    if (!outcome) {
        return outcome;
    }
    std::lock_guard guard(m_oLock);
    if (stop_requested()) {
        return sys_failure(ECANCELED, "the transfer was stopped");
    }
    close_socket(*socket);
    socket->handle = std::exchange(connected.handle, -1);
    peer_address = candidates[winner];
    return {};
}

std::unique_ptr<net_socket> socket_thread::take_socket() {
    std::lock_guard guard(m_oLock);
    return std::exchange(socket, std::make_unique<net_socket>());
}

void socket_thread::wake() {
    {
        std::lock_guard guard(m_oLock);
        // shutdown, not close: the descriptor stays the body's until it lets go of it, so it cannot be reused under
        // it.
        if (socket != nullptr && socket->handle >= 0) {
            ::shutdown(socket->handle, SHUT_RDWR);
        }
    }
    if (channel != nullptr) {
        channel->interrupt(this);
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
