#include "support/fifo_call.h"

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>

#include "core/unique_fd.h"
#include "support/temp_home.h"

namespace tiv::test {

bool make_fifo(const std::string& path) {
    return ::mkfifo(path.c_str(), 0600) == 0;
}

bool returns_without_a_writer(const std::string& fifo, const std::function<void()>& call,
                              std::chrono::milliseconds limit) {
    std::atomic<bool> returned{false};
    std::thread runner([&] {
        call();
        returned = true;
    });
    const bool in_time = wait_for([&] { return returned.load(); }, limit);
    // A writer that opens without blocking (possible once a reader waits in open) and closes again ends both a
    // blocked open and a blocked read.
    while (!returned) {
        const unique_fd writer(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    runner.join();
    return in_time;
}

} // namespace tiv::test
