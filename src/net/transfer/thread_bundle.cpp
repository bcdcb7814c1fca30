#include "net/transfer/thread_bundle.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <vector>

#include "log/activity_log.h"

namespace tiv {

using transfer_list = std::list<std::shared_ptr<socket_thread>>;

struct thread_bundle::shared_list {
    mutable std::mutex lock; // guards everything below
    std::shared_ptr<const transfer_listener> listener;
    transfer_list threads;
    std::size_t finished_kept = std::numeric_limits<std::size_t>::max();

    // Moves the oldest finished transfers beyond the kept number into `released`; the caller lets go of them
    // outside the lock, since a transfer's destructor closes its connection and file.
    void unlink_excess_finished(transfer_list& released) {
        std::size_t finished = static_cast<std::size_t>(
            std::count_if(threads.begin(), threads.end(), [](const auto& t) { return t->body_finished(); }));
        for (auto it = threads.begin(); it != threads.end() && finished > finished_kept;) {
            const auto next = std::next(it);
            if ((*it)->body_finished()) {
                released.splice(released.end(), threads, it);
                --finished;
            }
            it = next;
        }
    }
};

thread_bundle::thread_bundle() : m_pList(std::make_shared<shared_list>()) {}

thread_bundle::~thread_bundle() {
    stop_all();
}

void thread_bundle::set_listener(transfer_listener listener) {
    auto shared = listener ? std::make_shared<const transfer_listener>(std::move(listener)) : nullptr;
    std::lock_guard guard(m_pList->lock);
    m_pList->listener = std::move(shared);
}

void thread_bundle::keep_finished(std::size_t count) {
    transfer_list released;
    std::lock_guard guard(m_pList->lock);
    m_pList->finished_kept = count;
    m_pList->unlink_excess_finished(released);
}

thread_bundle::body_announcer::body_announcer(std::shared_ptr<const transfer_listener> listener,
                                              std::weak_ptr<shared_list> list, std::shared_ptr<socket_thread> transfer)
    : m_pListener(std::move(listener)), m_pList(std::move(list)), m_pTransfer(std::move(transfer)) {}

void thread_bundle::body_announcer::started() const {
    if (m_pListener != nullptr) {
        (*m_pListener)(m_pTransfer->snapshot());
    }
}

void thread_bundle::body_announcer::ended() const {
    m_pTransfer->end(false); // for a body that did not end itself
    if (m_pListener != nullptr) {
        for (const transfer_view& row : m_pTransfer->rows()) {
            (*m_pListener)(row);
        }
    }
    // body_finished() turns true only after this returns, so this transfer is unlinked by the next one to end
    // (or the next append); a list never keeps more than one finished transfer beyond its number.
    if (const std::shared_ptr<shared_list> owner = m_pList.lock()) {
        transfer_list released;
        std::lock_guard guard(owner->lock);
        owner->unlink_excess_finished(released);
    }
}

thread_bundle::body_announcer thread_bundle::announcer_for(std::shared_ptr<socket_thread> transfer) const {
    // The listener goes with the announcer by value, so a list destroyed before its transfers end leaves it intact.
    // A listener's accept thread makes bodies while its owner may still be setting the listener: hence the lock.
    std::shared_ptr<const transfer_listener> listener;
    {
        std::lock_guard guard(m_pList->lock);
        listener = m_pList->listener;
    }
    return {std::move(listener), m_pList, std::move(transfer)};
}

std::function<void()> thread_bundle::announced(std::shared_ptr<socket_thread> transfer,
                                               std::function<void(socket_thread&)> body) const {
    return [announcer = announcer_for(transfer), transfer, body = std::move(body)] {
        const transfer_log_scope scope(transfer->id());
        announcer.started();
        body(*transfer);
        announcer.ended();
    };
}

void thread_bundle::append(std::shared_ptr<socket_thread> thread) {
    transfer_list released;
    std::lock_guard guard(m_pList->lock);
    m_pList->unlink_excess_finished(released);
    m_pList->threads.push_back(std::move(thread));
}

std::size_t thread_bundle::size() const {
    std::lock_guard guard(m_pList->lock);
    return m_pList->threads.size();
}

std::size_t thread_bundle::running_count() const {
    std::lock_guard guard(m_pList->lock);
    const transfer_list& threads = m_pList->threads;
    return static_cast<std::size_t>(
        std::count_if(threads.begin(), threads.end(), [](const auto& t) { return !t->body_finished(); }));
}

std::size_t thread_bundle::finished_count() const {
    std::lock_guard guard(m_pList->lock);
    const transfer_list& threads = m_pList->threads;
    return static_cast<std::size_t>(
        std::count_if(threads.begin(), threads.end(), [](const auto& t) { return t->body_finished(); }));
}

std::vector<transfer_view> thread_bundle::snapshots() const {
    std::lock_guard guard(m_pList->lock);
    std::vector<transfer_view> copies;
    copies.reserve(m_pList->threads.size());
    for (const auto& thread : m_pList->threads) {
        for (transfer_view& row : thread->rows()) {
            copies.push_back(std::move(row));
        }
    }
    return copies;
}

void thread_bundle::remove_thread(const socket_thread* thread) {
    transfer_list released;
    std::lock_guard guard(m_pList->lock);
    transfer_list& threads = m_pList->threads;
    for (auto it = threads.begin(); it != threads.end();) {
        const auto next = std::next(it);
        if (it->get() == thread) {
            released.splice(released.end(), threads, it);
        }
        it = next;
    }
}

std::size_t thread_bundle::clear_completed() {
    transfer_list completed;
    {
        std::lock_guard guard(m_pList->lock);
        transfer_list& threads = m_pList->threads;
        for (auto it = threads.begin(); it != threads.end();) {
            const auto next = std::next(it);
            if ((*it)->body_finished()) {
                completed.splice(completed.end(), threads, it);
            }
            it = next;
        }
    }
    // Released outside the lock: a transfer's destructor closes its connection and file.
    return completed.size();
}

bool thread_bundle::stop_transfer(std::uint64_t id, arrived_part part) {
    std::shared_ptr<socket_thread> running;
    {
        std::lock_guard guard(m_pList->lock);
        const transfer_list& threads = m_pList->threads;
        const auto found = std::find_if(threads.begin(), threads.end(),
                                        [id](const auto& t) { return t->shows(id) && !t->body_finished(); });
        if (found == threads.end()) {
            return false;
        }
        running = *found;
    }
    // Woken outside the lock, as stop_all does: waking closes the body's connection, which nobody need wait for.
    if (part == arrived_part::keep) {
        running->request_stop();
    } else {
        running->discard_and_stop();
    }
    return true;
}

void thread_bundle::stop_all() {
    transfer_list stopping;
    {
        std::lock_guard guard(m_pList->lock);
        stopping.swap(m_pList->threads);
    }
    for (const auto& thread : stopping) {
        thread->request_stop();
    }
    const auto deadline = std::chrono::steady_clock::now() + rthread::stop_limit;
    for (const auto& thread : stopping) {
        (void)thread->wait_finished(deadline);
    }
}

} // namespace tiv
