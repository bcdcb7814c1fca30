#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/byte_buffer.h"
#include "crypto/authentycryptor.h"
#include "net/socket/net_socket.h"
#include "net/transfer/parcel_receipt.h"

namespace tiv {

// The receiver's side: the receipt and the end of its stream under the session, in one send.
[[nodiscard]] bool send_receipt(net_socket& socket, authentycryptor& cipher, const parcel_receipt& receipt);

// A receiver that refused while data may still be coming reads and discards it this long at most after its answer,
// so that closing with unread data does not turn into a reset that destroys the answer on its way.
inline constexpr int refusal_drain_ms = 3000;

// The sender's side: what the receiver sent, decrypted, until it forms a receipt.
class receipt_reader {
public:
    explicit receipt_reader(authentycryptor& cipher) : m_oCipher(cipher) {}

    // False once the bytes are forged, follow the end of the receiver's stream, or can never form a receipt.
    bool take(std::span<const std::uint8_t> wire);
    [[nodiscard]] const std::optional<parcel_receipt>& receipt() const { return m_oReceipt; }

private:
    authentycryptor& m_oCipher;
    byte_buffer m_aPlain;
    std::optional<parcel_receipt> m_oReceipt;
    bool m_bBroken = false;
};

// What the receiver did while the sender waited.
enum class peer_answer { nothing, answered, closed, reset, timed_out };

// Reads whatever the receiver has sent, waiting up to `wait_ms` for it to begin, without blocking after that.
// `answered` once a receipt is complete, `closed` or `reset` when the receiver's stream ended without one.
[[nodiscard]] peer_answer read_arrived(const net_socket& socket, receipt_reader* reader, int wait_ms);

// After the sender's end of file: waits for the receipt, or with a peer that sends none (reader null) for the end
// of its stream. The wait grows with the data still in flight: while the receiver takes in what is unacknowledged
// it may pause up to `quiet_ms` between steps; once everything is acknowledged it has several times that to
// finish (write out, rename), as a slow disk needs, before the sender gives up.
[[nodiscard]] peer_answer await_answer(const net_socket& socket, receipt_reader* reader, int quiet_ms);

// How many quiet periods a receiver has to finish once it holds every byte.
inline constexpr int finishing_quiet_periods = 6;

} // namespace tiv
