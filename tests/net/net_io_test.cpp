#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "loopback.h"
#include "net/socket/net_socket.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

using namespace std::chrono_literals;
using test::connect_pair;
using test::loopback_pair;
using test::wait_for;

std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 131 + i / 251) & 0xFF);
    }
    return bytes;
}

int bytes_waiting(int fd) {
    int count = -1;
    return ::ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
}

// True while the thread sleeps in the kernel (blocked in a socket call).
bool thread_sleeps(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t end_of_name = text.rfind(')');
    return end_of_name != std::string::npos && end_of_name + 2 < text.size() && text[end_of_name + 2] == 'S';
}

// Installs a SIGUSR1 handler without SA_RESTART, so a blocked socket call returns EINTR (or a short count).
class interrupting_signal {
public:
    interrupting_signal() {
        struct sigaction action = {};
        action.sa_handler = [](int) { ++s_nDelivered; };
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGUSR1, &action, &m_oPrevious);
    }
    ~interrupting_signal() { ::sigaction(SIGUSR1, &m_oPrevious, nullptr); }
    interrupting_signal(const interrupting_signal&) = delete;
    interrupting_signal& operator=(const interrupting_signal&) = delete;

    static inline std::atomic<int> s_nDelivered = 0;

private:
    struct sigaction m_oPrevious = {};
};

TEST(receive_all, assembles_a_record_that_arrives_in_pieces) {
    loopback_pair pair;
    ASSERT_NO_FATAL_FAILURE(connect_pair(pair));
    const auto record = pattern(1000);
    std::thread sender([&] {
        // Each piece goes out only after the reader has taken the previous one, so every piece is its own recv.
        std::size_t offset = 0;
        for (std::size_t piece : {1u, 7u, 100u, 392u, 500u}) {
            ASSERT_TRUE(send_all(pair.client, record.data() + offset, static_cast<int>(piece)));
            offset += piece;
            ASSERT_TRUE(wait_for([&] { return bytes_waiting(pair.server->handle) == 0; }, 5s));
        }
    });
    std::vector<std::uint8_t> received(record.size());
    EXPECT_TRUE(receive_all(*pair.server, static_cast<int>(received.size()), received.data()));
    sender.join();
    EXPECT_EQ(received, record);
    EXPECT_TRUE(receive_all(*pair.server, 0, received.data()));
}

TEST(receive_all, fails_when_the_peer_closes_early_or_stays_silent) {
    loopback_pair pair;
    ASSERT_NO_FATAL_FAILURE(connect_pair(pair));
    ASSERT_TRUE(set_receive_timeout(*pair.server, 100));
    std::uint8_t buffer[20] = {};
    EXPECT_EQ(receive_all(*pair.server, 4, buffer).code(), ETIMEDOUT);

    ASSERT_TRUE(send_all(pair.client, buffer, 10));
    ASSERT_EQ(::shutdown(pair.client.handle, SHUT_WR), 0);
    EXPECT_EQ(receive_all(*pair.server, 20, buffer).code(), ECONNRESET) << "an early close is no silent peer";
}

TEST(receive_all, resumes_after_a_signal) {
    interrupting_signal signal_guard;
    loopback_pair pair;
    ASSERT_NO_FATAL_FAILURE(connect_pair(pair));
    std::atomic<pid_t> tid = 0;
    std::atomic<bool> whole = false;
    std::uint8_t buffer[8] = {};
    std::thread reader([&] {
        tid = ::gettid();
        whole = receive_all(*pair.server, 8, buffer).ok();
    });
    EXPECT_TRUE(wait_for([&] { return tid != 0 && thread_sleeps(tid); }, 5s));
    const int before = interrupting_signal::s_nDelivered;
    ::pthread_kill(reader.native_handle(), SIGUSR1);
    EXPECT_TRUE(wait_for([&] { return interrupting_signal::s_nDelivered > before && thread_sleeps(tid); }, 5s));
    const auto record = pattern(8);
    EXPECT_TRUE(send_all(pair.client, record.data(), 8));
    reader.join();
    EXPECT_TRUE(whole);
    EXPECT_TRUE(std::equal(record.begin(), record.end(), buffer));
}

TEST(send_all, delivers_a_large_buffer_whole_through_short_sends) {
    interrupting_signal signal_guard;
    loopback_pair pair;
    ASSERT_NO_FATAL_FAILURE(connect_pair(pair));
    ASSERT_TRUE(set_send_timeout(pair.client, 10000));
    const auto data = pattern(8 << 20);
    std::atomic<pid_t> tid = 0;
    std::atomic<bool> whole = false;
    std::thread writer([&] {
        tid = ::gettid();
        whole = send_all(pair.client, data.data(), static_cast<int>(data.size())).ok();
    });
    // The reader is slow: nothing is read until the writer is stuck on full buffers and has been interrupted,
    // which cuts its send short.
    EXPECT_TRUE(wait_for([&] { return tid != 0 && thread_sleeps(tid); }, 5s));
    ::pthread_kill(writer.native_handle(), SIGUSR1);
    ASSERT_TRUE(set_receive_timeout(*pair.server, 5000));
    std::vector<std::uint8_t> received(data.size());
    std::size_t offset = 0;
    while (offset < received.size()) {
        const int piece = static_cast<int>(std::min<std::size_t>(4096, received.size() - offset));
        if (!receive_all(*pair.server, piece, received.data() + offset)) {
            break;
        }
        offset += static_cast<std::size_t>(piece);
    }
    writer.join();
    EXPECT_TRUE(whole);
    EXPECT_TRUE(received == data);
}

TEST(send_all, reports_a_closed_peer_instead_of_raising_sigpipe) {
    loopback_pair pair;
    ASSERT_NO_FATAL_FAILURE(connect_pair(pair));
    ASSERT_TRUE(set_receive_timeout(*pair.server, 50));
    close_socket(*pair.server);
    const auto piece = pattern(4096);
    sys_status sent;
    EXPECT_TRUE(wait_for(
        [&] {
            sent = send_all(pair.client, piece.data(), 4096);
            return !sent;
        },
        5s));
    EXPECT_TRUE(sent.code() == EPIPE || sent.code() == ECONNRESET) << sent.text();
}

TEST(close_socket, lets_the_peer_read_everything_sent_before_the_close) {
    loopback_pair pair;
    ASSERT_NO_FATAL_FAILURE(connect_pair(pair));
    const auto data = pattern(1 << 20);
    sys_status closed;
    std::thread sender([&] {
        EXPECT_TRUE(send_all(pair.client, data.data(), static_cast<int>(data.size())));
        closed = close_socket_reporting(pair.client);
    });
    std::vector<std::uint8_t> received(data.size());
    EXPECT_TRUE(receive_all(*pair.server, static_cast<int>(received.size()), received.data()));
    std::uint8_t extra = 0;
    EXPECT_FALSE(receive_all(*pair.server, 1, &extra)) << "the half-close ends the stream";
    close_socket(*pair.server);
    sender.join();
    EXPECT_TRUE(received == data);
    EXPECT_TRUE(closed) << "the drain saw the peer's end, not a time-out: " << closed.text();
}

TEST(drain, gives_up_on_a_peer_that_never_closes) {
    loopback_pair pair;
    ASSERT_NO_FATAL_FAILURE(connect_pair(pair));
    ASSERT_TRUE(set_receive_timeout(*pair.server, 300));
    std::atomic<bool> stop = false;
    std::thread chatter([&] {
        const auto piece = pattern(64);
        while (!stop && send_all(pair.client, piece.data(), 64)) {
        }
    });
    const auto started = std::chrono::steady_clock::now();
    const sys_status closed = close_socket_reporting(*pair.server);
    const auto took = std::chrono::steady_clock::now() - started;
    stop = true;
    chatter.join();
    EXPECT_LT(took, 5s);
    EXPECT_EQ(closed.code(), ETIMEDOUT);
}

TEST(receive_datagram, reads_one_datagram_with_its_sender) {
    net_address local;
    ASSERT_TRUE(resolve_address("127.0.0.1", 0, local));
    net_socket receiver;
    net_socket sender;
    ASSERT_TRUE(open_socket(receiver, SOCK_DGRAM, 0));
    ASSERT_TRUE(open_socket(sender, SOCK_DGRAM, 0));
    ASSERT_TRUE(bind_socket(receiver, local));
    ASSERT_TRUE(bind_socket(sender, local));
    const auto data = pattern(200);
    const auto* to = reinterpret_cast<const ::sockaddr*>(&receiver.address.endpoint.v4);
    ASSERT_EQ(::sendto(sender.handle, data.data(), 200, 0, to, sizeof(sockaddr_in)), 200);
    ASSERT_EQ(::sendto(sender.handle, data.data(), 30, 0, to, sizeof(sockaddr_in)), 30);

    std::vector<std::uint8_t> buffer(512);
    net_address from;
    const auto cut = receive_datagram(receiver, buffer, &from);
    ASSERT_TRUE(cut) << cut.status().text();
    EXPECT_EQ(cut.value(), static_cast<int>(max_datagram_size));
    EXPECT_EQ(from.port(), sender.address.port());
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + max_datagram_size, buffer.begin()));
    const auto next = receive_datagram(receiver, buffer, nullptr);
    ASSERT_TRUE(next);
    EXPECT_EQ(next.value(), 30) << "the rest of a long datagram is dropped";

    ASSERT_TRUE(set_receive_timeout(receiver, 50));
    EXPECT_EQ(receive_datagram(receiver, buffer, &from).status().code(), ETIMEDOUT);

    // Datagrams already waiting are thrown away by a drain, as before a ping.
    ASSERT_EQ(::sendto(sender.handle, data.data(), 10, 0, to, sizeof(sockaddr_in)), 10);
    ASSERT_EQ(::sendto(sender.handle, data.data(), 10, 0, to, sizeof(sockaddr_in)), 10);
    ASSERT_TRUE(wait_for([&] { return bytes_waiting(receiver.handle) > 0; }, 5s));
    (void)drain(receiver);
    EXPECT_FALSE(receive_datagram(receiver, buffer, &from));
}

} // namespace
} // namespace tiv
