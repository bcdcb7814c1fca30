#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/status.h"
#include "app/transfer_view.h"

namespace tiv::app {

class program;

// The identity and keys a send needs: no_identity before set-up (nothing is written then), otherwise start-up's
// first half (defaults where set-up is not complete, settings, keys, the provider's state shown), and
// keys_unavailable when the keys cannot be used.
[[nodiscard]] status open_sender_identity(program& p);

// Whether `path` names a folder to send with send_folder (itself, not through a symbolic link).
[[nodiscard]] bool is_folder(const std::string& path);

// One friend's outgoing transfers, as one send window or one send command holds them: a connection and a thread
// per file. Used on the front end's thread.
class send_session {
public:
    // On the program's own settings and keys, which outlive the session.
    explicit send_session(program& p);
    send_session(const send_session&) = delete;
    send_session& operator=(const send_session&) = delete;
    // Stops the transfers still running.
    ~send_session();

    // Chooses the friend and where to reach them: the profile's address and port unless `host` and `port` are
    // given. Fails with the reason when the friend is missing or unusable or the destination is refused.
    [[nodiscard]] status set_destination(const std::string& friend_name, const std::optional<std::string>& host = {},
                                         std::optional<std::uint32_t> port = {});
    // A destination without a friend: the transfers still authenticate and encrypt, and fail to authenticate at a
    // receiver that does not know this user's key. Refused as set_destination refuses an address.
    [[nodiscard]] status set_manual_destination(const std::string& host, std::uint32_t port);

    // Starts one transfer per file (relative paths are taken from the working directory), all at once; their ids
    // in the order of the files. Nothing starts before a destination is set, without usable keys, nor when one of
    // the files exists but is not a regular file (a FIFO, a device, a directory): invalid, naming it as given. A
    // file that cannot be found is left to its transfer, which fails on its own.
    // To a friend whose key is pinned, the files share one connection where the receiver takes the parcel stream.
    [[nodiscard]] result<std::vector<std::uint64_t>> send(const std::vector<std::string>& files);

    // A folder being sent: a transfer per file, in the order listed, each shown under its path in the folder
    // ("Photos/2024/a.jpg"), and what was left out (symbolic links are never followed) with why.
    struct folder_send {
        std::string name;
        std::vector<std::uint64_t> ids;
        std::vector<std::string> shown;
        std::vector<std::string> skipped;
    };
    // Sends the tree below `folder`, its empty directories too; it arrives as a new folder in the friend's parcel
    // box. Refused (invalid) before anything connects for a friend without a pinned key (only the stream carries
    // folders), a folder that cannot be listed (named with the reason) and one that holds no file.
    [[nodiscard]] result<folder_send> send_folder(const std::string& folder);

    // Waits until every transfer of this session has ended or `deadline` has passed; true when all have ended.
    // Woken by the transfers as they end, so a caller learns of the last one at once.
    [[nodiscard]] bool wait_until_ended(std::chrono::steady_clock::time_point deadline) const;

    // Every transfer of this session, in order of creation; those of `ids` in that order (a default view for an
    // id this session does not know).
    [[nodiscard]] std::vector<transfer_view> snapshots() const;
    [[nodiscard]] std::vector<transfer_view> snapshots(const std::vector<std::uint64_t>& ids) const;
    [[nodiscard]] std::size_t running_count() const;
    // Drops the transfers that have ended from the list.
    void clear_completed();
    // Asks the transfer `id` to stop and returns at once; it ends as a failed transfer saying it was stopped, and
    // stays listed. False when no running transfer of this session has that id.
    bool stop_transfer(std::uint64_t id);
    // The same as a broken connection: the receiver keeps what arrived of the file under way for the next send, and
    // the files after it on the same connection stop with it. False as for stop_transfer.
    bool pause_transfer(std::uint64_t id);
    // Stops every transfer and waits for them (a few seconds at most); a receiver removes its partial file.
    // Callable from another thread than the one that started them.
    void stop_all();

private:
    // The friend, the destination and the transfers, with what wakes a waiter as they end.
    struct parts;

    [[nodiscard]] bool all_ended() const;
    // Before the transfers start, so a quick one cannot be heard of before it was counted.
    void count_started(std::size_t transfers);

    std::unique_ptr<parts> m_pParts;
};

} // namespace tiv::app
