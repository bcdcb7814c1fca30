// Puts distance between two programs on one machine: every piece of data that arrives on an accepted loopback
// connection leaves towards the target ONE_WAY_MS later, in order, in both directions, so a round trip costs twice
// that. Data is never held back by what comes after it, only by its own delay, as on a long link with plenty of
// bandwidth. A half close travels the same way, delayed behind the data before it.
//
// Usage: delay_proxy LISTEN_PORT TARGET_PORT ONE_WAY_MS   (LISTEN_PORT 0: any free port)
// Prints "listening on PORT" once it accepts, and runs until killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;

class socket_fd {
public:
    explicit socket_fd(int fd) : m_nFd(fd) {}
    socket_fd(const socket_fd&) = delete;
    socket_fd& operator=(const socket_fd&) = delete;
    ~socket_fd() {
        if (m_nFd >= 0) {
            ::close(m_nFd);
        }
    }
    [[nodiscard]] int get() const { return m_nFd; }

private:
    int m_nFd;
};

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool write_all(int fd, const std::vector<char>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// One direction of one connection: a reader that stamps each piece with the time it may leave, and a writer that
// sends it then. An empty piece is the end of the stream.
class delayed_pipe {
public:
    delayed_pipe(int from, int to, clock_type::duration delay) : m_nFrom(from), m_nTo(to), m_oDelay(delay) {}

    void run() {
        std::thread writer([this] { write_loop(); });
        read_loop();
        writer.join();
    }

private:
    struct piece {
        clock_type::time_point due;
        std::vector<char> bytes;
    };

    void read_loop() {
        std::vector<char> buffer(64 * 1024);
        for (;;) {
            const ssize_t n = ::recv(m_nFrom, buffer.data(), buffer.size(), 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            const auto due = clock_type::now() + m_oDelay;
            std::vector<char> bytes;
            if (n > 0) {
                bytes.assign(buffer.begin(), buffer.begin() + n);
            }
            {
                const std::lock_guard lock(m_oLock);
                m_aPieces.push_back({due, std::move(bytes)});
            }
            m_oArrived.notify_one();
            if (n <= 0) {
                return;
            }
        }
    }

    void write_loop() {
        for (;;) {
            piece next;
            {
                std::unique_lock lock(m_oLock);
                m_oArrived.wait(lock, [this] { return !m_aPieces.empty(); });
                next = std::move(m_aPieces.front());
                m_aPieces.pop_front();
            }
            std::this_thread::sleep_until(next.due);
            if (next.bytes.empty()) {
                ::shutdown(m_nTo, SHUT_WR);
                return;
            }
            if (!write_all(m_nTo, next.bytes)) {
                // The far side is gone: stop the near side too, so its reader ends and nothing waits for ever.
                ::shutdown(m_nFrom, SHUT_RDWR);
                ::shutdown(m_nTo, SHUT_RDWR);
                drain_after_failure();
                return;
            }
        }
    }

    // Takes what the reader still queues up to its end, so the reader never blocks on a writer that left.
    void drain_after_failure() {
        for (;;) {
            std::unique_lock lock(m_oLock);
            m_oArrived.wait(lock, [this] { return !m_aPieces.empty(); });
            const bool end = m_aPieces.back().bytes.empty();
            m_aPieces.clear();
            if (end) {
                return;
            }
        }
    }

    int m_nFrom;
    int m_nTo;
    clock_type::duration m_oDelay;
    std::mutex m_oLock;
    std::condition_variable m_oArrived;
    std::deque<piece> m_aPieces;
};

void no_delay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void relay(int client_fd, std::uint16_t target_port, clock_type::duration delay) {
    const socket_fd client(client_fd);
    const socket_fd target(::socket(AF_INET, SOCK_STREAM, 0));
    const sockaddr_in destination = loopback(target_port);
    if (target.get() < 0 ||
        ::connect(target.get(), reinterpret_cast<const sockaddr*>(&destination), sizeof destination) != 0) {
        std::fprintf(stderr, "delay_proxy: cannot connect to port %u: %s\n", target_port, std::strerror(errno));
        return;
    }
    no_delay(client.get());
    no_delay(target.get());
    delayed_pipe outward(client.get(), target.get(), delay);
    delayed_pipe inward(target.get(), client.get(), delay);
    std::thread back([&inward] { inward.run(); });
    outward.run();
    back.join();
}

bool parse_number(const char* text, unsigned long max, unsigned long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value <= max;
}

} // namespace

int main(int argc, char** argv) {
    unsigned long listen_port = 0;
    unsigned long target_port = 0;
    unsigned long delay_ms = 0;
    if (argc != 4 || !parse_number(argv[1], 65535, listen_port) || !parse_number(argv[2], 65535, target_port) ||
        target_port == 0 || !parse_number(argv[3], 60000, delay_ms)) {
        std::fprintf(stderr, "Usage: delay_proxy LISTEN_PORT TARGET_PORT ONE_WAY_MS\n");
        return 2;
    }
    const socket_fd listener(::socket(AF_INET, SOCK_STREAM, 0));
    const int on = 1;
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = loopback(static_cast<std::uint16_t>(listen_port));
    socklen_t length = sizeof address;
    if (listener.get() < 0 || ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 128) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::fprintf(stderr, "delay_proxy: cannot listen on port %lu: %s\n", listen_port, std::strerror(errno));
        return 1;
    }
    std::printf("listening on %u\n", ntohs(address.sin_port));
    std::fflush(stdout);
    const auto delay = std::chrono::milliseconds(delay_ms);
    for (;;) {
        const int client = ::accept(listener.get(), nullptr, nullptr);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) {
                continue;
            }
            std::fprintf(stderr, "delay_proxy: accept failed: %s\n", std::strerror(errno));
            return 1;
        }
        std::thread(relay, client, static_cast<std::uint16_t>(target_port), delay).detach();
    }
}
