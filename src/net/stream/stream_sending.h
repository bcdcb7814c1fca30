#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "net/stream/parcel_frames.h"
#include "net/stream/parcel_link.h"
#include "net/stream/stream_answers.h"
#include "net/transfer/transfer_outcome.h"

namespace tiv {

class socket_thread;

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

// A file whose frames all went out: the item whose answer is its verdict, and how it went.
struct stream_file_sent {
    std::uint64_t item = 0;
    std::uint64_t resumed_from = 0;
    std::uint64_t data_bytes = 0; // what went out of the file itself
    bool complete = false;        // read to its end, else given up (stopped)
};

// How sending a file's frames went: it ended already (`ended`), or all its frames went out (`sent`) and the answer to
// its item, still to come, is its verdict.
struct stream_file_progress {
    std::optional<stream_item_outcome> ended;
    stream_file_sent sent;
};

// Answers to files sent earlier that arrive while a file goes out (a stored or refused receipt each).
using earlier_answers = std::function<void(const stream_answers::answer&)>;

// Sends the file open for reading in `transfer.file` as the stream's file `path` (a bare name, or a path relative to
// the folder the stream carries), heard through `answers`, the link's. The transfer's state and bytes done follow.
// A large file waits for the receiver's offer, and so for every answer owed before it; those go to `earlier`.
[[nodiscard]] stream_file_progress send_stream_file(socket_thread& transfer, parcel_link& link, stream_answers& answers,
                                                    const std::string& path, std::int64_t mtime_ns, std::size_t chunk,
                                                    const earlier_answers& earlier);

// A sent file's verdict from the answer to its item (or what came instead: a time-out, a broken connection).
[[nodiscard]] stream_item_outcome stream_verdict(const socket_thread& transfer, const stream_file_sent& sent,
                                                 const stream_answers::answer& answer);

// Where both announced it, the stream begins with where this program can be reached now (see
// own_whereabouts); false only when the link broke.
[[nodiscard]] bool tell_whereabouts(parcel_link& link, const authentycryptor& cipher);

// The end of the stream: the `end` frame and this side's close_notify. The sender does not wait for the receiver's
// own end: the receipts were the verdict, and waiting would cost every send a round trip. False when they did not
// go out.
[[nodiscard]] bool end_stream(parcel_link& link);

// How long the sender waits for a receipt once the receiver holds everything: it may still be writing and
// renaming on a slow disk.
[[nodiscard]] int receipt_wait_ms(int io_timeout_ms);

} // namespace tiv
