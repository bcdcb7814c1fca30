#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "crypto/authentycryptor.h"
#include "net/connection_io.h"
#include "net/file_record.h"
#include "net/net_address.h"
#include "net/net_socket.h"
#include "net/rthread.h"
#include "net/transfer_file.h"
#include "net/transfer_snapshot.h"
#include "net/transfer_state.h"
#include "settings/friend_profile.h"

namespace tiv {

// One transfer, sending or receiving, and the fields the windows watch while it runs. Objects are shared: the
// list that shows a transfer and the body that runs it each hold one reference, so neither can pull the object
// away from the other.
//
// The fields below the watched ones belong to the body once it has started; the owner sets them before.
class socket_thread : public rthread, public std::enable_shared_from_this<socket_thread> {
public:
    socket_thread();
    ~socket_thread() override;

    // Selector 0..5 as the transfer list asks: finished bytes, seconds, bytes/s; running bytes, seconds, bytes/s.
    [[nodiscard]] double statistic(int selector) const override;
    [[nodiscard]] const char* state_name() const { return transfer_state_name(state); }

    // Unique in the process and never reused, so a window keeps its row for this transfer whatever else ends.
    [[nodiscard]] std::uint64_t id() const { return m_nId; }
    // Everything a window shows of this transfer, copied in one piece.
    [[nodiscard]] transfer_snapshot snapshot() const;
    // The whole file's size (the record carries only its low 32 bits), and a received file's final path.
    void set_file_size(std::uint64_t size);
    void set_stored_path(const std::string& path);

    [[nodiscard]] file_record record() const;
    void set_record(const file_record& record);
    // The friend at the other end, once known (the receiver learns it from the authentication).
    [[nodiscard]] std::string peer_name() const;
    void set_peer_name(const std::string& name);

    // Watched by other threads.
    std::atomic<std::uint64_t> bytes_transferred{0}; // plaintext bytes of the file sent or stored so far
    std::atomic<int> io_block_size{2048};
    std::atomic<int> io_timeout_ms{10000};   // a peer silent this long is given up
    std::atomic<std::int64_t> start_time{0}; // calendar seconds
    std::atomic<std::int64_t> end_time{0};
    std::atomic<int> state{UNDEFINED};
    std::atomic<double> elapsed{0.0};                           // seconds the body ran, set when it ends
    std::atomic<int> row_slot{-1};                              // the transfer list's row, -1 while none
    transfer_direction direction = transfer_direction::sending; // set by the owner before the start

    // The body's own.
    transfer_file file;
    std::unique_ptr<authentycryptor> authenticator;
    friend_profile profile;
    std::unique_ptr<net_socket> socket;
    net_address peer_address;

    // Creates the body's socket; guarded against a concurrent wake().
    [[nodiscard]] bool create_socket();
    // Ends the connection: in good order (half-close, then the peer's end) or with a reset that tells the peer
    // the transfer failed. The orderly close returns what the peer did.
    peer_ending close_connection();
    void abort_connection();

protected:
    void wake() override;

private:
    void release_handle();

    mutable std::mutex m_oLock; // guards the record, the peer name and the socket's handle against wake()
    const std::uint64_t m_nId;
    file_record m_oRecord;
    std::string m_strPeerName;
    std::string m_strStoredPath;
    std::uint64_t m_nFileSize = 0;
};

} // namespace tiv
