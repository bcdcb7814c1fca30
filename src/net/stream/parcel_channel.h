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

namespace tiv {

class socket_thread;

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
// reason. The connection ends in good order after the last transfer, and a transfer that breaks it leaves the next
// to connect again.
class parcel_channel {
public:
    // For `transfers` transfers; with `folder`, they are that folder's files.
    explicit parcel_channel(std::size_t transfers, std::optional<folder_plan> folder = std::nullopt);
    parcel_channel(const parcel_channel&) = delete;
    parcel_channel& operator=(const parcel_channel&) = delete;
    ~parcel_channel();

    // On `transfer`'s stop: interrupts the connection when `transfer` is the one using it, and ends its wait for its
    // turn otherwise, so that a stop is not held up by a wait.
    void interrupt(const socket_thread* transfer);

private:
    friend void run_channel_sending(socket_thread& transfer);
    enum class state { closed, open, old_peer, refused };

    // The transfer's turn on the connection: false once it was asked to stop while it waited (unless `until_given`).
    [[nodiscard]] bool take_turn(socket_thread& transfer, bool until_given = false);
    void give_turn_back();
    // The end of a transfer's part, with its turn: the last one ends the connection. Gives the turn back.
    void leave(const socket_thread& transfer);
    // Connects and authenticates with the transfer's own socket and authenticator; a stream connection is kept.
    void open(socket_thread& transfer);
    [[nodiscard]] bool announce_folder(socket_thread& transfer);
    void close_connection(bool in_order, int wait_ms);
    void refuse_all(int status, std::string words);

    // One transfer at a time uses the connection. A flag under a plain mutex rather than a mutex of its own: the
    // wait must end on a stop (interrupt() wakes it).
    std::mutex m_oTurnLock;
    std::condition_variable m_oTurnFree;
    bool m_bTurnTaken = false;
    std::mutex m_oHolderLock; // guards m_pHolder and the socket's handle against interrupt()
    const socket_thread* m_pHolder = nullptr;
    const std::optional<folder_plan> m_oFolder;
    state m_nState = state::closed;
    std::unique_ptr<net_socket> m_pSocket;
    std::unique_ptr<authentycryptor> m_pCipher;
    std::unique_ptr<parcel_link> m_pLink;
    std::unique_ptr<stream_answers> m_pAnswers; // the receiver's answers on m_pLink, matched to the files sent
    int m_nRefusedStatus = 0;
    std::string m_strRefusedWords;
    std::size_t m_nLeft;
};

// The body of a transfer that has a channel: its file over the shared connection, or over its own where the
// receiver is older.
void run_channel_sending(socket_thread& transfer);

} // namespace tiv
