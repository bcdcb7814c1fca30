#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "crypto/authentycryptor.h"
#include "net/socket/net_socket.h"
#include "net/stream/parcel_link.h"
#include "net/stream/stream_answers.h"
#include "net/stream/stream_sending.h"
#include "net/transfer/thread_bundle.h"
#include "net/transfer/transfer_outcome.h"

namespace tiv {

class socket_thread;
struct file_record;

// A folder as the sender announces it: its name, its directories (relative, parents first, the empty ones too) and
// what it holds in all.
struct folder_plan {
    std::string name;
    std::vector<std::string> directories;
    std::uint32_t files = 0;
    std::uint64_t bytes = 0;
};

// The transfers of one send, run by one worker thread over one connection, for a receiver that takes the parcel
// stream: a thousand small files cost one handshake and one thread instead of a thousand. A receiver of an older
// version gets each file over a connection of its own, one after the other; a folder needs the stream and is
// refused by such a receiver with that reason.
//
// How the worker goes through the send, in the order the transfers came:
// - The first file opens the connection, after the file itself: a file that cannot be read fails on its own,
//   without a connection for nothing. What answers decides for the rest of the send:
//   - a receiver that takes the stream: every file goes over the one connection;
//   - an older receiver: the first file goes over the connection it opened, each later one over one of its own;
//   - no receiver, one that does not take us, or one that refused the folder: every later file fails with the
//     same reason, without trying.
// - A receiver that takes pipelining gets further files while the receipts of earlier ones are on their way, up to
//   a window of files and bytes; one that does not gets the next file once the last one's receipt has come. Each
//   file keeps its own verdict, matched to it by the order of the receipts.
// - A broken connection fails every file not yet confirmed, and the next file connects again; but the rest of a
//   folder fails (a new connection would start a second folder), and so does the rest of a send whose receiver
//   answered out of turn (it is not to be believed again).
// - A stop of one file gives up that file only (the receiver is told it is incomplete); a file stopped before its
//   turn ends at once. A stop of the whole send breaks the connection.
// - Once every file has had its turn and its verdict, the worker ends the connection, in good order while it is
//   sound.
class parcel_channel : public std::enable_shared_from_this<parcel_channel> {
public:
    // The window of a pipelining sender: the files whose receipts it awaits, and their bytes.
    static constexpr std::size_t files_ahead = 256;
    static constexpr std::uint64_t bytes_ahead = std::uint64_t{8} << 20;

    // For `transfers` transfers; with `folder`, they are that folder's files.
    explicit parcel_channel(std::size_t transfers, std::optional<folder_plan> folder = std::nullopt);
    parcel_channel(const parcel_channel&) = delete;
    parcel_channel& operator=(const parcel_channel&) = delete;
    ~parcel_channel();

    // Hands the next transfer of the send to the worker, which the first one starts. From now on the transfer's
    // body is under way: `announcer` hears when the worker takes it up and when it has ended.
    void enqueue(std::shared_ptr<socket_thread> transfer, thread_bundle::body_announcer announcer);

    // On `transfer`'s stop, on the stopping thread: one still waiting for its turn ends at once; a stop of the whole
    // send (not one discarded file) breaks the connection, so that no wait holds it up.
    void interrupt(const socket_thread* transfer);

private:
    // What the worker finds for a file: no connection (none yet, or the last one broke), a stream, an older
    // receiver, or a send refused for good.
    enum class state { closed, open, old_peer, refused };
    struct queued {
        std::shared_ptr<socket_thread> transfer;
        thread_bundle::body_announcer announcer;
    };
    struct awaiting {
        queued entry;
        stream_file_sent sent;
    };
    class worker;

    void run();
    [[nodiscard]] queued next_queued();
    // The file's turn: it ends, or its frames go out and it awaits its verdict.
    void take_up(queued& entry);
    void send_over_stream(queued& entry, const file_record& record);
    // Over a connection of the file's own, to an older receiver.
    void send_alone(queued& entry);
    // Connects and authenticates with the transfer's own socket and authenticator; a stream connection is kept.
    void open(socket_thread& transfer);
    [[nodiscard]] bool announce_folder(socket_thread& transfer);

    // Makes room in the window for one more file: the receipts already there, and while the window is full, the
    // next one waited for.
    void make_room(const socket_thread& current);
    // Waits up to `wait_ms` for the next answer and settles what it decides (`current` names the receiver in a
    // time-out); false when no receipt came.
    bool settle_next(const socket_thread& current, int wait_ms);
    // False when the answer is not the oldest file's: the answers can no longer be matched to the files.
    [[nodiscard]] bool settle(const stream_answers::answer& answer);
    [[nodiscard]] static stream_item_outcome lost_answers();
    // The connection can carry nothing more: every file awaiting its verdict fails with `outcome`'s reason.
    void break_link(stream_item_outcome outcome);
    // Ends the transfer with the outcome of its file in the stream, then lets it go.
    void conclude(queued& entry, stream_item_outcome outcome);
    void let_go(queued& entry);

    void close_connection(bool in_order);
    void refuse_all(transfer_status status, std::string words);
    [[nodiscard]] bool pipelining() const;

    const std::size_t m_nTransfers;
    const std::optional<folder_plan> m_oFolder;
    std::unique_ptr<worker> m_pWorker;

    std::mutex m_oQueueLock; // guards m_aQueue against enqueue()
    std::condition_variable m_oQueued;
    std::deque<queued> m_aQueue;

    std::mutex m_oSocketLock; // guards the socket's handle against interrupt()
    // The rest belongs to the worker.
    state m_nState = state::closed;
    std::unique_ptr<net_socket> m_pSocket;
    std::unique_ptr<authentycryptor> m_pCipher;
    std::unique_ptr<parcel_link> m_pLink;
    std::unique_ptr<stream_answers> m_pAnswers; // the receiver's answers on m_pLink, matched to the files sent
    std::deque<awaiting> m_aAwaiting;           // oldest first
    std::uint64_t m_nBytesAwaiting = 0;
    transfer_outcome m_oRefusal; // what every later transfer meets, once refused: always a failure
};

} // namespace tiv
