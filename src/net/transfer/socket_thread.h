#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/transfer_view.h"
#include "crypto/authentycryptor.h"
#include "net/single_file/file_record.h"
#include "net/single_file/transfer_file.h"
#include "net/socket/connection_io.h"
#include "net/socket/net_address.h"
#include "net/socket/net_socket.h"
#include "net/transfer/rthread.h"
#include "net/transfer/transfer_outcome.h"
#include "settings/friend_profile.h"

namespace tiv {

class parcel_channel;

// One transfer, sending or receiving. Objects are shared: the list that shows a transfer and the body that runs
// it each hold one reference, so neither can pull the object away from the other.
//
// What the transfer has done so far is the body's to write, through the narrow methods below, and anyone's to
// read through snapshot(); one lock covers all of it, so a snapshot never mixes two moments of the transfer.
// The public members below are set by the owner before the start and belong to the body from then on, except
// `direction`, which nobody writes once the thread runs, and `peer_address`, which the body changes only under the
// lock (connect_to_peer): snapshot() reads both.
class socket_thread : public rthread, public std::enable_shared_from_this<socket_thread> {
public:
    socket_thread();
    ~socket_thread() override;

    // Unique in the process and never reused, so a window keeps its row for this transfer whatever else ends.
    [[nodiscard]] std::uint64_t id() const { return m_nId; }
    // Everything a window shows of this transfer, copied in one piece: the file under way (or the last one).
    [[nodiscard]] transfer_view snapshot() const;
    // A row for every file of the connection: those that ended, then the one under way; a connection that never
    // reached a file, or broke inside one, shows that way.
    [[nodiscard]] std::vector<transfer_view> rows() const;
    // A receiving connection that may turn out to carry a friend's login check or message rather than parcels is
    // no transfer until its first parcel: unlisted, it has no rows, for a window or for the history.
    void set_listed(bool listed);
    // Whether `id` is this transfer's or the row of the file under way.
    [[nodiscard]] bool shows(std::uint64_t id) const;

    // The record as the owner set it (the name to send) or as it arrived, and the whole file's size (the record
    // carries only its low 32 bits; 0 while unknown).
    [[nodiscard]] file_record record() const;
    void set_record(const file_record& record, std::uint64_t size);
    // A connection that carries several files gives each a row of its own: begin_parcel() starts the next (with a
    // new id), end_parcel() closes its row as stored, or, given a `failure`, as not stored, with the status and words
    // of its receipt.
    void begin_parcel(const file_record& record, std::uint64_t size);
    void end_parcel(std::optional<transfer_status> failure = std::nullopt, std::string status_words = {});
    void set_folder_name(const std::string& name);
    // A receive that failed left this much on disk for the next send (a kept part).
    void set_bytes_kept(std::uint64_t bytes);

    // The body's reports. begin() is its first action (state INITIALIZING, the start time); end() its last that
    // the snapshot sees: the state it stopped in stays unless `completed`, and a `status` marks the transfer failed,
    // with `status_words` saying why when the status alone would not.
    void begin();
    void set_state(transfer_state state);
    void set_bytes_done(std::uint64_t bytes);
    void set_stored_path(const std::string& path);
    // A sent file continued from `offset`, where the receiver's kept part of an earlier transfer ended.
    void set_resumed_from(std::uint64_t offset);
    // The friend at the other end, once known (the receiver learns it from the authentication).
    void set_peer_name(const std::string& name);
    // The user stopped this one transfer: unlike a stop of the whole program, what arrived of it is not kept.
    void discard_and_stop();
    [[nodiscard]] bool discard_requested() const { return m_bDiscard; }
    void end(bool completed, std::optional<transfer_status> status = std::nullopt, std::string status_words = {});
    void end(const transfer_outcome& outcome) { end(outcome.completed, outcome.status, outcome.words); }

    int io_block_size = 2048;
    int io_timeout_ms = 10000;                                  // a peer silent this long is given up
    transfer_direction direction = transfer_direction::sending; // never changes once started
    net_address peer_address; // the address connected to (a sender's first candidate until it connected)
    // Sending: every address of the destination, in the order connect_to_peer tries them.
    std::vector<net_address> peer_candidates;
    // Sending: where else the friend may be, asked only when none of `peer_candidates` connected.
    std::function<std::vector<net_address>()> fallback_candidates;
    transfer_file file;
    std::unique_ptr<authentycryptor> authenticator;
    friend_profile profile;
    std::unique_ptr<net_socket> socket;
    // Sending: the connection this transfer shares with the others of its send, when it has one; the file's path
    // as the stream names it (relative to the folder sent), empty for a file sent alone.
    std::shared_ptr<parcel_channel> channel;
    std::string stream_path;
    // Receiving: whether a large file whose transfer breaks leaves its part for the next send to continue.
    bool keep_broken_parts = true;

    // Connects the body's socket to the first of `peer_candidates` to answer, and makes it the `peer_address`;
    // guarded against a concurrent wake().
    [[nodiscard]] sys_status connect_to_peer();
    // Hands the connection over (to the transfer's channel); the transfer is left with a socket never opened.
    [[nodiscard]] std::unique_ptr<net_socket> take_socket();
    // Ends the connection: in good order (half-close, then the peer's end) or with a reset that tells the peer
    // the transfer failed. The orderly close returns what the peer did.
    peer_ending close_connection();
    void abort_connection();

protected:
    void wake() override;
    // A body that returned without end(), or never ran, still ends: a window must not wait for it forever.
    void body_ended(bool ran) override;

private:
    // The transfer's progress, as end() and the other reports leave it.
    struct progress {
        transfer_state m_nState = transfer_state::undefined;
        bool m_bFinished = false;
        bool m_bFailed = false;
        transfer_status m_nStatus = transfer_status::file_open;
        std::string m_strStatusWords;
        std::uint64_t m_nBytesDone = 0;
        std::uint64_t m_nBytesKept = 0;
        std::uint64_t m_nParcelId = 0; // the row of the file under way, when the connection carries several
        bool m_bInParcel = false;
        bool m_bListed = true;
        std::string m_strFolder;
        std::vector<transfer_view> m_aEndedParcels;
        std::uint64_t m_nResumedFrom = 0;
        std::int64_t m_nStartTime = 0; // calendar seconds
        std::int64_t m_nEndTime = 0;
        double m_nElapsed = 0.0; // seconds from construction to the end
        file_record m_oRecord;
        std::uint64_t m_nSize = 0;
        std::string m_strStoredPath;
        std::string m_strFriendName;
    };

    void release_handle();
    // The snapshot as the lock holder sees it.
    [[nodiscard]] transfer_view snapshot_locked() const;

    const std::uint64_t m_nId;
    const double m_nCreatedAt;  // clock_now() at construction
    mutable std::mutex m_oLock; // guards m_oProgress, and the socket's handle against wake()
    std::atomic<bool> m_bDiscard{false};
    progress m_oProgress;
};

} // namespace tiv
