#include "net/transfer/rthread.h"

#include <pthread.h>
#include <system_error>
#include <thread>

#include "platform/crypto_backend/openssl_util.h"

namespace tiv {

namespace {
// Threads whose function has not returned yet, counted across every rthread of the process. Never destroyed: a
// thread may still be ending while the process runs its exit handlers.
struct running_count {
    std::mutex lock;
    std::condition_variable changed;
    std::size_t threads = 0;
};

running_count& running() {
    static running_count* const count = new running_count;
    return *count;
}

void thread_started() {
    running_count& count = running();
    std::lock_guard guard(count.lock);
    ++count.threads;
}

void thread_ended() {
    running_count& count = running();
    std::lock_guard guard(count.lock);
    --count.threads;
    count.changed.notify_all();
}
} // namespace

void wait_for_transfer_threads() {
    constexpr auto release_limit = std::chrono::seconds(5);
    running_count& count = running();
    std::unique_lock lock(count.lock);
    (void)count.changed.wait_for(lock, release_limit, [&count] { return count.threads == 0; });
}

double clock_now() {
    static const auto origin = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - origin).count();
}

struct rthread::thread_exit {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;

    void mark() {
        std::lock_guard guard(lock);
        done = true;
        changed.notify_all();
    }
};

rthread::~rthread() {
    // The last owner may be the body's own thread (a transfer releasing itself), and a body that outlived the stop
    // wait is left to end on its own. Otherwise the body has finished and only the thread's last steps remain.
    if (m_pExit == nullptr || !m_bFinished || m_nHandle == static_cast<std::uintptr_t>(::pthread_self())) {
        return;
    }
    constexpr auto exit_limit = std::chrono::seconds(2);
    std::unique_lock lock(m_pExit->lock);
    (void)m_pExit->changed.wait_for(lock, exit_limit, [this] { return m_pExit->done; });
}

void rthread::run(const std::function<void()>& body) {
    m_nHandle = static_cast<std::uintptr_t>(::pthread_self());
    {
        std::lock_guard guard(m_oLock);
        m_bFinished = false;
        m_bStarted = true;
        m_oChanged.notify_all();
    }
    body();
    body_ended(true);
    // Notified under the lock: a waiter that sees the end may destroy this object as soon as it has the lock,
    // and after releasing it this thread touches nothing of the object.
    std::lock_guard guard(m_oLock);
    m_bFinished = true;
    m_oChanged.notify_all();
}

std::uintptr_t rthread::start_thread(std::function<void()> body) {
    const bool counted = m_bTransfer;
    if (counted) {
        thread_started();
    }
    auto exit = std::make_shared<thread_exit>();
    std::uintptr_t handle = 0;
    try {
        // The body goes into the thread by value: whatever it holds lives as long as the thread runs. Releasing it
        // may destroy this object, so after that only the exit mark and the process-wide count are touched.
        std::thread made([this, counted, exit, body = std::move(body)]() mutable {
            {
                const std::function<void()> own = std::move(body);
                run(own);
            }
            cryptoapi::release_thread_state();
            exit->mark();
            if (counted) {
                thread_ended();
            }
        });
        handle = static_cast<std::uintptr_t>(made.native_handle());
        made.detach();
    } catch (const std::system_error&) {
        if (counted) {
            thread_ended();
        }
        body_ended(false);
        return 0;
    }
    std::unique_lock lock(m_oLock);
    m_pExit = std::move(exit);
    m_bThreadMade = true;
    m_oChanged.wait_for(lock, start_limit, [this] { return m_bStarted; });
    return handle;
}

void rthread::begin_hosted() {
    std::lock_guard guard(m_oLock);
    m_bFinished = false;
    m_bStarted = true;
    m_bThreadMade = true;
}

void rthread::hosted_here() {
    m_nHandle = static_cast<std::uintptr_t>(::pthread_self());
}

void rthread::end_hosted() {
    body_ended(true);
    std::lock_guard guard(m_oLock);
    m_bFinished = true;
    m_oChanged.notify_all();
}

void rthread::request_stop() {
    m_bStopRequested = true;
    wake();
}

bool rthread::wait_finished(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_oLock);
    // Before the body has started m_bFinished still holds its initial value; wait for the start as well.
    return m_oChanged.wait_until(lock, deadline, [this] { return m_bFinished && (m_bStarted || !m_bThreadMade); });
}

bool rthread::stop_wait() {
    {
        std::lock_guard guard(m_oLock);
        if (!m_bThreadMade) {
            return true;
        }
    }
    request_stop();
    return wait_finished(std::chrono::steady_clock::now() + stop_limit);
}

} // namespace tiv
