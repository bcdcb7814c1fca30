#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/coded_status.h"
#include "crypto/authentycryptor.h"
#include "net/socket/net_socket.h"
#include "net/stream/parcel_frames.h"

namespace tiv {

// The parcel stream over one authenticated connection: frames go out sealed under the session and come in opened
// and split. One thread uses a link at a time.
class parcel_link {
public:
    enum class arrival { frame, nothing, closed, broken, timed_out };

    parcel_link(net_socket& socket, authentycryptor& cipher) : m_oSocket(socket), m_oCipher(cipher) {}
    parcel_link(const parcel_link&) = delete;
    parcel_link& operator=(const parcel_link&) = delete;
    ~parcel_link();

    // Seals and sends plaintext that holds whole frames.
    [[nodiscard]] bool send(std::span<const std::uint8_t> frames);
    // One frame of its own.
    [[nodiscard]] bool send_frame(frame_type type, std::span<const std::uint8_t> payload);
    // Ends this side's stream in good order (close_notify), after which nothing more is sent.
    [[nodiscard]] bool close_stream();

    // The peer's next frame, waiting up to `wait_ms` for it (0: only what has already arrived, `nothing` when that
    // holds no whole frame). `closed` when the peer ended its stream in good order between frames; `broken` for a
    // connection that failed, a stream cut off inside a frame, or bytes that are forged or no frame of ours. The
    // payload stays valid until the next call.
    [[nodiscard]] arrival receive(frame_type& type, std::span<const std::uint8_t>& payload, int wait_ms);

    // Why the link last failed, worded "the connection broke: ...": the socket's error, ETIMEDOUT for a wait that
    // ran out, EPROTO for bytes that are forged or no frame of ours, ECONNRESET for a stream cut off at the end of
    // the connection. Ok while nothing failed; a peer that merely ended early is no failure of the link.
    [[nodiscard]] const sys_status& failure() const { return m_oFailure; }

private:
    enum class fill { more, nothing, closed, broken, timed_out };
    fill read_more(int wait_ms);
    void note_failure(int error);
    // Whether a send went out; a failed one becomes the link's failure.
    bool sent(const sys_status& outcome);

    net_socket& m_oSocket;
    authentycryptor& m_oCipher;
    frame_splitter m_oSplitter;
    std::vector<std::uint8_t> m_aWire;
    std::vector<std::uint8_t> m_aIncoming;
    bool m_bPeerClosed = false;
    sys_status m_oFailure;
};

} // namespace tiv
