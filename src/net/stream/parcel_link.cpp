#include "net/stream/parcel_link.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>

namespace tiv {

namespace {
constexpr std::size_t receive_piece = 65536;

// Waits until the socket is readable or `wait_ms` has passed; false on the time-out or a failed poll.
bool wait_readable(int handle, int wait_ms) {
    pollfd readable{handle, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        const int ready = ::poll(&readable, 1, wait_ms);
        if (ready >= 0 || errno != EINTR) {
            return ready > 0;
        }
        wait_ms = static_cast<int>(std::max<std::int64_t>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                   .count()));
    }
}
} // namespace

// The buffers held file contents in the clear.
parcel_link::~parcel_link() {
    wipe_capacity(m_aWire);
    wipe_capacity(m_aIncoming);
    wipe_capacity(m_oSplitter.input());
}

void parcel_link::note_failure(int error) {
    m_oFailure = sys_failure(error, "the connection broke");
}

bool parcel_link::sent(const sys_status& outcome) {
    if (!outcome) {
        note_failure(outcome.code());
    }
    return outcome.ok();
}

bool parcel_link::send(std::span<const std::uint8_t> frames) {
    m_aWire.clear();
    return m_oCipher.encrypt(frames, false, m_aWire) &&
           sent(send_all(m_oSocket, m_aWire.data(), static_cast<int>(m_aWire.size())));
}

bool parcel_link::send_frame(frame_type type, std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> plain;
    append_frame(plain, type, payload);
    return send(plain);
}

bool parcel_link::close_stream() {
    m_aWire.clear();
    return m_oCipher.encrypt({}, true, m_aWire) &&
           sent(send_all(m_oSocket, m_aWire.data(), static_cast<int>(m_aWire.size())));
}

parcel_link::fill parcel_link::read_more(int wait_ms) {
    if (m_bPeerClosed) {
        return fill::closed;
    }
    // While data streams in, it is usually there already: ask for it first and wait only when it is not, which
    // spares a poll and a wake-up per piece.
    m_aIncoming.resize(receive_piece);
    ssize_t count = ::recv(m_oSocket.handle, m_aIncoming.data(), m_aIncoming.size(), MSG_DONTWAIT);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!wait_readable(m_oSocket.handle, wait_ms)) {
            if (wait_ms > 0) {
                note_failure(ETIMEDOUT);
                return fill::timed_out;
            }
            return fill::nothing;
        }
        count = ::recv(m_oSocket.handle, m_aIncoming.data(), m_aIncoming.size(), MSG_DONTWAIT);
    }
    if (count < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
            return fill::nothing;
        }
        note_failure(errno);
        return fill::broken;
    }
    // The end of the connection proves an end of stream only after the peer's close_notify.
    const bool ended = count == 0;
    if (!m_oCipher.decrypt(std::span(m_aIncoming.data(), static_cast<std::size_t>(count)), ended,
                           m_oSplitter.input())) {
        note_failure(ended ? ECONNRESET : EPROTO);
        return fill::broken;
    }
    // The peer's close_notify ends its stream even while its connection stays open, as it does until it has heard
    // ours: asking whether the stream is complete tells.
    byte_buffer none;
    if (ended || m_oCipher.decrypt({}, true, none)) {
        m_bPeerClosed = true;
    }
    return fill::more;
}

parcel_link::arrival parcel_link::receive(frame_type& type, std::span<const std::uint8_t>& payload, int wait_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        switch (m_oSplitter.next(type, payload)) {
        case frame_splitter::result::frame:
            return arrival::frame;
        case frame_splitter::result::malformed:
            note_failure(EPROTO);
            return arrival::broken;
        case frame_splitter::result::incomplete:
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        switch (read_more(wait_ms == 0 ? 0 : static_cast<int>(std::max<std::int64_t>(left.count(), 1)))) {
        case fill::more:
            break;
        case fill::nothing:
            if (wait_ms == 0) {
                return arrival::nothing;
            }
            break;
        case fill::closed:
            return m_oSplitter.holds_partial() ? arrival::broken : arrival::closed;
        case fill::broken:
            return arrival::broken;
        case fill::timed_out:
            return arrival::timed_out;
        }
    }
}

} // namespace tiv
