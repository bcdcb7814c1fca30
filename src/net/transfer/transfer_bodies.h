#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/byte_buffer.h"
#include "net/stream/friend_message.h"
#include "net/transfer/transfer_outcome.h"

namespace tiv {

class box_ledger;
class socket_thread;

// The sending body: the file named by the record (below the file's directory) to `peer_address`, as the friend in
// `profile`. Success needs every send to succeed and the receiver's word that it stored the whole file: its receipt
// when both ends announced receipts, otherwise its end of the connection in good order, which it gives only then.
void run_sending_body(socket_thread& transfer);

// What a receiving transfer waits for besides its sender, each when set. Once the peer has proved who it is, `known`
// says whether the transfer may go on (false ends it); before its first parcel, `slot` gives it its turn among the
// receiving transfers (false: none came in time, and it ends). A connection that carries a friend's login check or
// message instead of parcels takes no turn; a message goes to `messages`.
struct receiving_hooks {
    std::function<bool()> known;
    std::function<bool()> slot;
    message_listener messages;
};

// The receiving body on an accepted connection; the file's directory is the parcel box root. A file is stored
// under its name only when every byte arrived and was written; otherwise nothing is left behind and the sender is
// told why by a receipt when both ends announced receipts, or else by a reset. `ledger` counts each box for all of
// a listener's transfers.
void run_receiving_body(socket_thread& transfer, box_ledger& ledger, const receiving_hooks& hooks = {});

// Transfer data piece size: at least 1024, rounded by the cipher's allowance as both ends do.
[[nodiscard]] std::size_t transfer_chunk_size(int io_block_size, int allowance);

// The stream has no piece boundaries, so the receiver takes whatever has arrived, up to this much per call, however
// small the sender's pieces: fewer system calls.
inline constexpr std::size_t least_receive_size = 65536;

// The data buffers of one transfer; overwritten with zeros before their memory is given back.
struct transfer_buffers {
    transfer_buffers() = default;
    transfer_buffers(const transfer_buffers&) = delete;
    transfer_buffers& operator=(const transfer_buffers&) = delete;
    ~transfer_buffers();

    byte_buffer plain;
    std::vector<std::uint8_t> wire;
};

// The end of a body, from its outcome: one that reached the end of its data is COMPLETED (failed or not) and logs
// its throughput; one that failed before stays in the state in which it stopped.
void end_transfer(socket_thread& transfer, const char* side, const transfer_outcome& outcome);

} // namespace tiv
