#include "net/thread_bundle.h"

#include <algorithm>
#include <vector>

#include "log/activity_log.h"

namespace tiv {

thread_bundle::~thread_bundle() {
    stop_all();
}

void thread_bundle::set_listener(transfer_listener listener) {
    auto shared = listener ? std::make_shared<const transfer_listener>(std::move(listener)) : nullptr;
    std::lock_guard guard(m_oLock);
    m_pListener = std::move(shared);
}

std::function<void()> thread_bundle::announced(std::shared_ptr<socket_thread> transfer,
                                               std::function<void(socket_thread&)> body) const {
    // The listener goes into the body by value, so a list destroyed before its transfers end leaves it intact.
    // A listener's accept thread makes bodies while its owner may still be setting the listener: hence the lock.
    std::shared_ptr<const transfer_listener> listener;
    {
        std::lock_guard guard(m_oLock);
        listener = m_pListener;
    }
    return [listener = std::move(listener), transfer = std::move(transfer), body = std::move(body)] {
        const transfer_log_scope scope(transfer->id());
        if (listener != nullptr) {
            (*listener)(transfer->snapshot());
        }
        body(*transfer);
        transfer->end(false); // for a body that did not end itself
        if (listener != nullptr) {
            (*listener)(transfer->snapshot());
        }
    };
}

void thread_bundle::append(std::shared_ptr<socket_thread> thread) {
    std::lock_guard guard(m_oLock);
    m_aThreads.push_back(std::move(thread));
}

std::size_t thread_bundle::size() const {
    std::lock_guard guard(m_oLock);
    return m_aThreads.size();
}

std::size_t thread_bundle::running_count() const {
    std::lock_guard guard(m_oLock);
    return static_cast<std::size_t>(
        std::count_if(m_aThreads.begin(), m_aThreads.end(), [](const auto& t) { return !t->body_finished(); }));
}

std::size_t thread_bundle::finished_count() const {
    std::lock_guard guard(m_oLock);
    return static_cast<std::size_t>(
        std::count_if(m_aThreads.begin(), m_aThreads.end(), [](const auto& t) { return t->body_finished(); }));
}

std::vector<transfer_snapshot> thread_bundle::snapshots() const {
    std::lock_guard guard(m_oLock);
    std::vector<transfer_snapshot> copies;
    copies.reserve(m_aThreads.size());
    for (const auto& thread : m_aThreads) {
        copies.push_back(thread->snapshot());
    }
    return copies;
}

void thread_bundle::remove_thread(const socket_thread* thread) {
    std::lock_guard guard(m_oLock);
    m_aThreads.remove_if([thread](const auto& t) { return t.get() == thread; });
}

std::size_t thread_bundle::clear_completed() {
    std::list<std::shared_ptr<socket_thread>> completed;
    {
        std::lock_guard guard(m_oLock);
        for (auto it = m_aThreads.begin(); it != m_aThreads.end();) {
            const auto next = std::next(it);
            if ((*it)->body_finished()) {
                completed.splice(completed.end(), m_aThreads, it);
            }
            it = next;
        }
    }
    // Released outside the lock: a transfer's destructor closes its connection and file.
    return completed.size();
}

void thread_bundle::stop_all() {
    std::list<std::shared_ptr<socket_thread>> stopping;
    {
        std::lock_guard guard(m_oLock);
        stopping.swap(m_aThreads);
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
