#include "net/transfer/receipt_exchange.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace tiv {

namespace {
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// The longest single wait, so that the data in flight is looked at again soon.
constexpr milliseconds poll_slice{200};

// Bytes sent but not yet acknowledged by the peer (or its relay); 0 when the kernel does not say.
int unacknowledged(const net_socket& socket) {
    int queued = 0;
    return ::ioctl(socket.handle, SIOCOUTQ, &queued) == 0 ? queued : 0;
}

bool wait_readable(const net_socket& socket, int wait_ms) {
    pollfd readable{socket.handle, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&readable, 1, wait_ms);
        if (ready >= 0 || errno != EINTR) {
            return ready > 0;
        }
    }
}

// One read of what has arrived; `nothing` when there is nothing yet.
peer_answer read_once(const net_socket& socket, receipt_reader* reader) {
    std::uint8_t piece[4096];
    const ssize_t count = ::recv(socket.handle, piece, sizeof piece, MSG_DONTWAIT);
    if (count == 0) {
        return peer_answer::closed;
    }
    if (count < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
            return peer_answer::nothing;
        }
        return peer_answer::reset;
    }
    if (reader == nullptr) {
        return peer_answer::nothing; // a peer without receipts has nothing to say; its end is the answer
    }
    if (!reader->take(std::span(piece, static_cast<std::size_t>(count)))) {
        return peer_answer::reset;
    }
    return reader->receipt() ? peer_answer::answered : peer_answer::nothing;
}
} // namespace

bool send_receipt(net_socket& socket, authentycryptor& cipher, const parcel_receipt& receipt) {
    std::vector<std::uint8_t> wire;
    const std::vector<std::uint8_t> plain = receipt.encode();
    return cipher.encrypt(plain, false, wire) && cipher.encrypt({}, true, wire) &&
           send_all(socket, wire.data(), static_cast<int>(wire.size())).ok();
}

bool receipt_reader::take(std::span<const std::uint8_t> wire) {
    if (m_bBroken) {
        return false;
    }
    if (!m_oCipher.decrypt(wire, false, m_aPlain)) {
        m_bBroken = true;
        return false;
    }
    if (!m_oReceipt && !m_aPlain.empty()) {
        parcel_receipt receipt;
        std::size_t used = 0;
        switch (decode_receipt(m_aPlain, receipt, used)) {
        case receipt_parse::complete:
            m_oReceipt = std::move(receipt);
            break;
        case receipt_parse::malformed:
            m_bBroken = true;
            return false;
        case receipt_parse::incomplete:
            break;
        }
    }
    return true;
}

peer_answer read_arrived(const net_socket& socket, receipt_reader* reader, int wait_ms) {
    if (!wait_readable(socket, wait_ms)) {
        return peer_answer::nothing;
    }
    for (;;) {
        const peer_answer answer = read_once(socket, reader);
        if (answer != peer_answer::nothing || !wait_readable(socket, 0)) {
            return answer;
        }
    }
}

peer_answer await_answer(const net_socket& socket, receipt_reader* reader, int quiet_ms) {
    const milliseconds quiet{std::max(quiet_ms, 1000)};
    const milliseconds finishing = quiet * finishing_quiet_periods;
    auto last_progress = steady_clock::now();
    int queued = unacknowledged(socket);
    for (;;) {
        const auto now = steady_clock::now();
        const int still_queued = unacknowledged(socket);
        if (still_queued < queued) {
            last_progress = now;
        }
        queued = still_queued;
        const auto left = std::chrono::ceil<milliseconds>(last_progress + (queued > 0 ? quiet : finishing) - now);
        if (left.count() <= 0) {
            return peer_answer::timed_out;
        }
        if (!wait_readable(socket, static_cast<int>(std::min(left, poll_slice).count()))) {
            continue;
        }
        const peer_answer answer = read_once(socket, reader);
        if (answer != peer_answer::nothing) {
            return answer;
        }
        last_progress = steady_clock::now(); // the receiver is talking
    }
}

} // namespace tiv
