#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/stream/parcel_frames.h"
#include "net/stream/parcel_link.h"
#include "net/transfer/transfer_outcome.h"

namespace tiv {

class socket_thread;
class stream_answers;

// A file at least this large is offered for resuming: the sender waits for the receiver to say what it kept. A
// smaller one costs less to send again than the round trip.
inline constexpr std::uint64_t resume_threshold = std::uint64_t{1} << 20;

// How one file of the parcel stream ended, for the sender.
struct stream_item_outcome {
    transfer_outcome ended; // stored, or why not (with the receiver's receipt when it refused the file)
    bool link_sound = true; // false when the connection can carry no further file
    std::uint64_t resumed_from = 0;
    bool out_of_turn = false; // the receiver's answers no longer match the files: it is not to be believed again
};

// Sends the file open for reading in `transfer.file` as the stream's file `path` (a bare name, or a path relative to
// the folder the stream carries) and waits for the receiver's receipt, heard through `answers`, the link's. The
// transfer's state and bytes done follow.
[[nodiscard]] stream_item_outcome send_stream_file(socket_thread& transfer, parcel_link& link, stream_answers& answers,
                                                   const std::string& path, std::int64_t mtime_ns, std::size_t chunk);

// The end of the stream: the `end` frame and this side's close_notify, then the receiver's own end in good order.
// False when the receiver did not end in good order.
[[nodiscard]] bool end_stream(parcel_link& link, int wait_ms);

// How long the sender waits for a receipt once the receiver holds everything: it may still be writing and
// renaming on a slow disk.
[[nodiscard]] int receipt_wait_ms(int io_timeout_ms);

} // namespace tiv
