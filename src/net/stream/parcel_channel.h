#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "crypto/authentycryptor.h"
#include "net/socket/net_socket.h"
#include "net/stream/parcel_link.h"
#include "net/stream/stream_answers.h"
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

// One connection shared by the transfers of one send, for a receiver that takes the parcel stream: the first
// transfer to run connects and authenticates, and each then sends its file over the same connection in turn, so a
// thousand small files cost one handshake instead of a thousand. A receiver of an older version sends each file
// over a connection of its own, as before; a folder needs the stream and is refused by such a receiver with that
// reason.
//
// How the transfers take turns:
// - One transfer at a time holds the turn, and only the holder uses the connection; the others wait for it.
// - A holder that finds no connection opens one, after its file: a file that cannot be read fails on its own,
//   without a connection for nothing. What answers decides for the rest of the send:
//   - a receiver that takes the stream: every holder sends its file over the one connection;
//   - an older receiver: the first holder sends over the connection it opened, and each later one over a connection
//     of its own, without the turn, so that they run side by side as they always did;
//   - no receiver, one that does not take us, or one that refused the folder: every later transfer fails with the
//     same reason, without trying.
// - A transfer that breaks the connection closes it, and the next holder connects again; but the rest of a folder
//   fails (a new connection would start a second folder), and so does the rest of a send whose receiver answered
//   out of turn (it is not to be believed again).
// - A stop interrupts the holder's use of the connection, or ends a transfer's wait for the turn; a transfer stopped
//   while it waited still waits, unstoppably, for the turn to leave.
// - Every transfer leaves once, holding the turn; the last to leave ends the connection, in good order while it is
//   sound.
class parcel_channel {
public:
    // For `transfers` transfers; with `folder`, they are that folder's files.
    explicit parcel_channel(std::size_t transfers, std::optional<folder_plan> folder = std::nullopt);
    parcel_channel(const parcel_channel&) = delete;
    parcel_channel& operator=(const parcel_channel&) = delete;
    ~parcel_channel();

    // The body of a transfer of this send, on its thread: its file in its turn, as the rules above say.
    void send(socket_thread& transfer);

    // On `transfer`'s stop: interrupts the connection when `transfer` is the one using it, and ends its wait for its
    // turn otherwise, so that a stop is not held up by a wait.
    void interrupt(const socket_thread* transfer);

private:
    // What a holder finds: no connection (none yet, or the last one broke), a stream, an older receiver, or a send
    // refused for good.
    enum class state { closed, open, old_peer, refused };

    // The transfer's turn on the connection: false once it was asked to stop while it waited (unless `until_given`).
    [[nodiscard]] bool take_turn(socket_thread& transfer, bool until_given = false);
    void give_turn_back();
    // The end of a transfer's part, with its turn: the last one ends the connection. Gives the turn back.
    void leave(const socket_thread& transfer);
    // The holder's file, and the connection when there is none; a first file to an older receiver goes out here.
    void prepare(socket_thread& transfer, file_record& record);
    // Connects and authenticates with the transfer's own socket and authenticator; a stream connection is kept.
    void open(socket_thread& transfer);
    [[nodiscard]] bool announce_folder(socket_thread& transfer);
    // The holder's file over the shared connection; one that breaks it closes it.
    void send_over_stream(socket_thread& transfer, const file_record& record);
    // The file over a connection of the transfer's own, to an older receiver, without the turn.
    void send_alone(socket_thread& transfer, file_record& record);
    void close_connection(bool in_order, int wait_ms);
    void refuse_all(transfer_status status, std::string words);

    // One transfer at a time uses the connection. A flag under a plain mutex rather than a mutex of its own: the
    // wait must end on a stop (interrupt() wakes it).
    std::mutex m_oTurnLock;
    std::condition_variable m_oTurnFree;
    bool m_bTurnTaken = false;
    std::mutex m_oHolderLock; // guards m_pHolder and the socket's handle against interrupt()
    const socket_thread* m_pHolder = nullptr;
    // The rest belongs to the holder of the turn.
    const std::optional<folder_plan> m_oFolder;
    state m_nState = state::closed;
    std::unique_ptr<net_socket> m_pSocket;
    std::unique_ptr<authentycryptor> m_pCipher;
    std::unique_ptr<parcel_link> m_pLink;
    std::unique_ptr<stream_answers> m_pAnswers; // the receiver's answers on m_pLink, matched to the files sent
    transfer_outcome m_oRefusal;                // what every later transfer meets, once refused: always a failure
    std::size_t m_nLeft;
};

} // namespace tiv
