#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace tiv {

// Seconds since the process first asked, on a monotonic clock.
[[nodiscard]] double clock_now();

// A thread body and the start and stop handshakes its owner runs with it. The handshakes wait on a condition
// variable rather than spinning.
//
// Lifetime: a body must keep alive whatever it uses (the transfer bodies hold a shared pointer to their own
// object), so an object whose body outlives the stop wait is released by the body's thread when it ends. The
// destructor never waits for a body that has not finished.
//
// The thread is detached as soon as it exists: its stack goes back the moment it ends, whoever still holds the
// object. A listener that runs for months keeps the record of finished transfers, never their threads.
class rthread {
public:
    static constexpr std::chrono::milliseconds start_limit{2000};
    static constexpr std::chrono::milliseconds stop_limit{5000};

    rthread() = default;
    rthread(const rthread&) = delete;
    rthread& operator=(const rthread&) = delete;
    virtual ~rthread();

    // Runs body on a new thread, then waits until it has started or start_limit has passed. The handle, or 0
    // when no thread could be made (the body then never runs; body_ended(false) says so).
    std::uintptr_t start_thread(std::function<void()> body);

    // Asks the body to stop and wakes it from any blocking call.
    void request_stop();
    // Waits until the body has finished or the deadline has passed; true when it has finished.
    bool wait_finished(std::chrono::steady_clock::time_point deadline);
    // The stop wait: request_stop, then wait_finished for at most stop_limit.
    bool stop_wait();

    // For a body that another thread runs on this object's behalf (one worker runs every file of a send):
    // begin_hosted() marks the body under way, as start_thread does; hosted_here() names the thread now running it
    // in log lines; end_hosted() ends it as the body's return would, and is the host's last touch of the object.
    void begin_hosted();
    void hosted_here();
    void end_hosted();

    // Polled by the body.
    [[nodiscard]] bool stop_requested() const { return m_bStopRequested; }
    // False exactly while the body runs; once true, the body's thread touches nothing of this object any more
    // that its owner could release.
    [[nodiscard]] bool body_finished() const { return m_bFinished; }
    // The low 32 bits of the thread's handle, as log lines print them in hexadecimal; 0 until the body runs.
    [[nodiscard]] unsigned log_handle() const { return static_cast<unsigned>(m_nHandle.load()); }

protected:
    // Transfer threads are counted for wait_for_transfer_threads; set by the transfer thread classes.
    bool m_bTransfer = false;

    // Makes a blocked body return (closes its connection, for example). Runs on the owner's thread.
    virtual void wake() {}
    // Runs on the body's thread right after the body returns (ran = true), or on the owner's thread when no
    // thread could be started (ran = false); before anyone can see body_finished() turn true.
    virtual void body_ended(bool ran) { (void)ran; }

private:
    void run(const std::function<void()>& body);

    std::atomic<bool> m_bStopRequested{false}; // set by the owner
    std::atomic<bool> m_bFinished{true};       // false exactly while the body runs
    std::atomic<std::uintptr_t> m_nHandle{0};
    struct thread_exit;

    std::mutex m_oLock; // guards the handshake: m_bStarted, m_bThreadMade, and m_bFinished's changes
    std::condition_variable m_oChanged;
    bool m_bStarted = false;
    bool m_bThreadMade = false;
    // Shared with the thread, which marks it as its very last step; the destructor waits for that, so an owner
    // that destroys the object knows the thread touches nothing any more.
    std::shared_ptr<thread_exit> m_pExit;
};

// Waits until every transfer thread (socket_thread) of the process has ended and released what its body held, at
// most a few seconds. A program calls this before it exits, after stopping its transfers, so no body is cut off half
// way through releasing its connection, file and keys.
void wait_for_transfer_threads();

} // namespace tiv
