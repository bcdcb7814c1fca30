#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <vector>

#include "net/transfer/socket_thread.h"

namespace tiv {

// The transfers of one owner, in order of creation. One lock guards the list: an accept thread appends while a
// window's timer reads and its commands remove. A list may keep only its newest finished transfers, so an owner
// that runs for months does not hold every transfer it ever had.
class thread_bundle {
public:
    // Hears of each transfer of this list when its body starts, and once it has ended of each of its rows (a
    // connection that carried several files has a row for each), every one then finished in its final state.
    // Called on the transfer's own thread: only enqueue.
    using transfer_listener = std::function<void(const transfer_view& transfer)>;

    thread_bundle();
    thread_bundle(const thread_bundle&) = delete;
    thread_bundle& operator=(const thread_bundle&) = delete;
    ~thread_bundle();

    // Set before the first transfer starts; transfers started later tell it of their start and end.
    void set_listener(transfer_listener listener);
    // Beyond the newest `count` finished transfers, each is unlinked as soon as it ends; unlimited by default.
    void keep_finished(std::size_t count);
    void append(std::shared_ptr<socket_thread> thread);
    [[nodiscard]] std::size_t size() const;
    // Transfers whose thread still runs, and those whose thread has ended; together the whole list.
    [[nodiscard]] std::size_t running_count() const;
    [[nodiscard]] std::size_t finished_count() const;
    // Every transfer of the list, in order of creation: a row per file of a connection that carries several.
    [[nodiscard]] std::vector<transfer_view> snapshots() const;
    // Unlinks every entry holding `thread`. The object lives on while anyone else holds it.
    void remove_thread(const socket_thread* thread);
    // Unlinks the finished transfers; each is released as soon as its body's thread has let go of it.
    std::size_t clear_completed();
    // What a receiver does with what arrived of a file stopped on its side: a cancel drops it, a pause keeps it as a
    // part the sender's next send goes on from (as a broken connection would, under the same rules).
    enum class arrived_part { discard, keep };
    // Asks the transfer `id` (or the one whose file under way has that row) to stop and returns at once: its body
    // ends when it notices, and the transfer stays listed with the state it ended in. False when the list holds no
    // running transfer of that id.
    bool stop_transfer(std::uint64_t id, arrived_part part = arrived_part::discard);
    // Asks every transfer to stop, then waits for all of them together for at most the stop limit, and empties the
    // list. A body that takes longer keeps its object until it ends.
    void stop_all();

    struct shared_list;

    // What the thread running a transfer's body tells the list around it: the listener hears of the start and the
    // end, and the end lets the list unlink what it no longer keeps.
    class body_announcer {
    public:
        body_announcer() = default;
        body_announcer(std::shared_ptr<const transfer_listener> listener, std::weak_ptr<shared_list> list,
                       std::shared_ptr<socket_thread> transfer);

        void started() const;
        // Ends the transfer, if its body did not, before the listener hears of it.
        void ended() const;

    private:
        std::shared_ptr<const transfer_listener> m_pListener;
        std::weak_ptr<shared_list> m_pList;
        std::shared_ptr<socket_thread> m_pTransfer;
    };

protected:
    // Runs `body` for `transfer`, telling the listener before and after; every line the body logs names the
    // transfer.
    [[nodiscard]] std::function<void()> announced(std::shared_ptr<socket_thread> transfer,
                                                  std::function<void(socket_thread&)> body) const;
    // The same announcements, for a body run by a thread that is not the transfer's own.
    [[nodiscard]] body_announcer announcer_for(std::shared_ptr<socket_thread> transfer) const;

private:
    // Shared with the bodies, which unlink themselves through it when they end, unless the list is gone by then.
    std::shared_ptr<shared_list> m_pList;
};

} // namespace tiv
