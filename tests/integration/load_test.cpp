#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "crypto/negotiating_authentycryptor.h"
#include "crypto/session_key_types.h"
#include "net/transfer/incoming_connection_handler.h"
#include "net/transfer/outgoing_connection_handler.h"
#include "peer_process.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"

#if defined(__SANITIZE_THREAD__)
#define QUORVEL_LOAD_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUORVEL_LOAD_UNDER_TSAN 1
#endif
#endif
// A sanitizer keeps freed memory and thread stacks for its own checks, so memory figures say nothing under one.
#if defined(QUORVEL_LOAD_UNDER_TSAN) || defined(__SANITIZE_ADDRESS__)
#define QUORVEL_LOAD_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEL_LOAD_UNDER_SANITIZER 1
#endif
#endif

namespace tiv::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::size_t transfer_count = 200;

// Entries of a /proc directory (a process's fd or task list).
std::size_t count_entries(const std::string& directory) {
    std::size_t count = 0;
    if (DIR* listing = ::opendir(directory.c_str())) {
        while (const dirent* entry = ::readdir(listing)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        ::closedir(listing);
    }
    return count;
}

// The one quorvel-cli process this test process started and has not reaped; 0 when there is none.
pid_t child_listener() {
    pid_t found = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // "pid (comm) state ppid ...": comm may hold spaces, so read from its closing parenthesis.
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos || line.find("(quorvel-cli)") == std::string::npos) {
            continue;
        }
        char state = 0;
        int parent = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == ::getpid() &&
            state != 'Z') {
            found = static_cast<pid_t>(std::stol(name));
        }
    }
    return found;
}

// A "Vm..." figure of /proc/<pid>/status in KiB; 0 when it cannot be read.
std::size_t status_kib(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return static_cast<std::size_t>(std::stoull(line.substr(field.size() + 1)));
        }
    }
    return 0;
}

// What a long-running listener must give back: its threads and its mappings (each thread stack is one).
struct process_figures {
    std::size_t threads = 0;
    std::size_t mappings = 0;
};

process_figures figures_of(pid_t pid) {
    process_figures figures;
    figures.threads = count_entries("/proc/" + std::to_string(pid) + "/task");
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        ++figures.mappings;
    }
    return figures;
}

// Opens a connection to `port` and resets it at once, as a scanner or a careless script would; false when the
// connection could not be made within a moment (the listener's backlog may be full for a moment).
bool touch_and_reset(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const timeval patience{2, 0}; // bounds connect() too
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    const linger at_once{1, 0}; // no TIME_WAIT: fifty thousand of them would use up the ports
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &at_once, sizeof at_once);
    ::close(fd);
    return connected;
}

// Mixed sizes: empty files, block edges, a few hundred KiB, and every tenth file one to four MiB. Under
// ThreadSanitizer, which slows every byte many times over, the big ones shrink so the run stays bounded.
std::size_t load_size(std::size_t i) {
    static constexpr std::size_t small[] = {1, 15, 16, 17, 1023, 1024, 1025, 8191, 8192, 8193, 16384, 16385, 65537};
#ifdef QUORVEL_LOAD_UNDER_TSAN
    constexpr std::size_t big_base = 64 << 10, big_spread = 192 << 10;
#else
    constexpr std::size_t big_base = 1 << 20, big_spread = 3 << 20;
#endif
    if (i % 40 == 0) {
        return 0;
    }
    if (i % 10 == 5) {
        return big_base + (i * 104729) % big_spread;
    }
    if (i % 10 == 7) {
        return 100000 + i * 997;
    }
    return small[i % std::size(small)];
}

// One sender: an identity of its own, the way Bob knows it, and its handler running in this process.
struct load_sender {
    const char* name;
    std::uint32_t type; // the only type Bob allows it
    bool pinned;
    int block_size;
    std::unique_ptr<test_identity> identity;
    friend_profile bob;
    std::unique_ptr<outgoing_connection_handler> handler;
};

// The first of `preferred` this machine's crypto offers, or AES 256.
std::uint32_t available_type(std::initializer_list<std::uint32_t> preferred) {
    for (const std::uint32_t type : preferred) {
        if ((type & crypto_provider::available_key_types()) != 0) {
            return type;
        }
    }
    return 0x800;
}

// Bob listens as a real quorvel-cli process; six friends send to him at once from this process, two of them
// pinned (TLS 1.3) and four with the old exchange, each with its own key type and block size.
class LoadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_pBob = new test_identity("Bob");
        prepare_peer(*s_pBob);
    }
    static void TearDownTestSuite() { delete s_pBob; }

    void SetUp() override {
        m_strWork = (fs::temp_directory_path() / ("quorvel-load-" + std::to_string(::getpid()))).string();
        fs::remove_all(m_strWork);
        fs::create_directories(m_strWork);
        m_aSenders.push_back({"Ann", 0x800, true, 16384, nullptr, {}, nullptr});
        m_aSenders.push_back({"Ben", 0x200, true, 2048, nullptr, {}, nullptr});
        m_aSenders.push_back({"Cat", 0x800, false, 8192, nullptr, {}, nullptr});
        m_aSenders.push_back({"Dan", available_type({0x040, 0x020}), false, 4096, nullptr, {}, nullptr});
        m_aSenders.push_back({"Eve", available_type({0x100, 0x010, 0x002}), false, 1024, nullptr, {}, nullptr});
        m_aSenders.push_back({"Fay", available_type({0x080, 0x004, 0x001}), false, 8192, nullptr, {}, nullptr});
        for (load_sender& sender : m_aSenders) {
            sender.identity = std::make_unique<test_identity>(sender.name);
            test_identity& person = *sender.identity;
            person.provider().allowed_key_types = all_session_key_types & crypto_provider::available_key_types();
            fs::remove_all(s_pBob->home() + "/PBoxes/" + sender.name);
            (void)delete_profile(s_pBob->settings(), sender.name); // a stored pin is not replaced by saving
            friend_profile known = person.as_friend(sender.type, sender.pinned);
            ASSERT_TRUE(save_profile(s_pBob->settings(), known));
            sender.bob = s_pBob->as_friend(all_session_key_types, sender.pinned);
            sender.handler = std::make_unique<outgoing_connection_handler>(
                std::make_shared<negotiating_authentycryptor>(person.provider(), person.settings()));
            sender.handler->profile = &sender.bob;
            fs::create_directories(m_strWork + "/" + sender.name);
        }
    }
    void TearDown() override {
        m_aSenders.clear();
        m_pListener.reset();
        fs::remove_all(m_strWork);
    }

    void start_listener() {
        m_nPort = free_loopback_port();
        ASSERT_NE(m_nPort, 0);
        ASSERT_TRUE(write_dword_setting(s_pBob->settings().machine_key(), names::io_block_size, 8192));
        ASSERT_TRUE(write_dword_setting(s_pBob->settings().machine_key(), names::interface_ip_port,
                                        static_cast<std::uint32_t>(m_nPort)));
        m_pListener = std::make_unique<peer_process>(s_pBob->home(), std::vector<std::string>{"listen"},
                                                     m_strWork + "/listen.out");
        ASSERT_TRUE(m_pListener->wait_for_output("Listening on 127.0.0.1:" + std::to_string(m_nPort), 15000))
            << m_pListener->output();
        ASSERT_TRUE(resolve_address("127.0.0.1", static_cast<std::uint16_t>(m_nPort), m_oDestination));
    }

    std::string source(const load_sender& sender, const std::string& name) const {
        return m_strWork + "/" + sender.name + "/" + name;
    }
    std::shared_ptr<socket_thread> send(load_sender& sender, const std::string& name) {
        return sender.handler->start_outgoing(m_strWork + "/" + sender.name, name, {m_oDestination}, sender.block_size);
    }
    // Waits for every sender's transfers to end; `sample` runs at every look.
    bool all_sent(
        std::chrono::milliseconds limit, const std::function<void()>& sample = [] {}) {
        return wait_for(
            [&] {
                sample();
                return std::all_of(m_aSenders.begin(), m_aSenders.end(),
                                   [](const load_sender& s) { return s.handler->running_count() == 0; });
            },
            limit);
    }

    static test_identity* s_pBob;
    std::string m_strWork;
    std::vector<load_sender> m_aSenders;
    std::unique_ptr<peer_process> m_pListener;
    net_address m_oDestination{};
    int m_nPort = 0;
};

test_identity* LoadTest::s_pBob = nullptr;

TEST_F(LoadTest, TwoHundredTransfersAtOnceArriveWholeAndLeaveNothingBehind) {
    ASSERT_NO_FATAL_FAILURE(start_listener());
    const pid_t listener = child_listener();
    ASSERT_GT(listener, 0);
    const std::string listener_proc = "/proc/" + std::to_string(listener);

    // One transfer of each exchange first: what either sets up once (its crypto, the profile store) is not a leak.
    for (load_sender* warm : {&m_aSenders[0], &m_aSenders[2]}) {
        write_random_file(source(*warm, "warm-up"), 1000);
        (void)send(*warm, "warm-up");
    }
    ASSERT_TRUE(all_sent(30s));
    for (load_sender* warm : {&m_aSenders[0], &m_aSenders[2]}) {
        const std::vector<transfer_view> warmed = warm->handler->snapshots();
        ASSERT_EQ(warmed.size(), 1U);
        ASSERT_FALSE(warmed[0].failed) << warm->name << "\n" << m_pListener->output();
        EXPECT_EQ(warm->handler->clear_completed(), 1U);
    }
    const std::size_t listener_fds = count_entries(listener_proc + "/fd");
    const std::size_t listener_threads = count_entries(listener_proc + "/task");
    const std::size_t own_fds = count_entries("/proc/self/fd");
    const std::size_t own_threads = count_entries("/proc/self/task");
    const std::size_t memory_before = status_kib(listener, "VmHWM");

    struct planned {
        load_sender* sender;
        std::string name;
        std::shared_ptr<socket_thread> transfer;
    };
    std::vector<planned> plan;
    std::uint64_t total_bytes = 0;
    for (std::size_t i = 0; i < transfer_count; ++i) {
        load_sender& sender = m_aSenders[i % m_aSenders.size()];
        const std::string name = "load-" + std::to_string(i) + ".bin";
        write_random_file(source(sender, name), load_size(i));
        total_bytes += load_size(i);
        plan.push_back({&sender, name, nullptr});
    }

    const auto started = std::chrono::steady_clock::now();
    for (planned& entry : plan) {
        entry.transfer = send(*entry.sender, entry.name);
    }
    std::size_t most_listener_threads = 0;
    ASSERT_TRUE(all_sent(120s, [&] {
        most_listener_threads = std::max(most_listener_threads, count_entries(listener_proc + "/task"));
    })) << m_pListener->output().substr(0, 4000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::size_t arrived = 0;
    for (const planned& entry : plan) {
        const transfer_view sent = entry.transfer->snapshot();
        EXPECT_FALSE(sent.failed) << entry.sender->name << " " << entry.name << ": state "
                                  << transfer_state_name(sent.state) << ", " << sent.status_text;
        const std::string stored = s_pBob->home() + "/PBoxes/" + entry.sender->name + "/" + entry.name;
        const bool same = file_sha256(stored) == file_sha256(source(*entry.sender, entry.name));
        EXPECT_TRUE(same) << stored;
        arrived += same ? 1 : 0;
    }
    EXPECT_EQ(arrived, transfer_count);
    const std::string log = m_pListener->output();
    for (const load_sender& sender : m_aSenders) {
        const std::string exchange = sender.pinned ? "R::Authenticating SUCCEEDED (TLS 1.3, " : "R::Key type chosen: [";
        EXPECT_NE(log.find(exchange), std::string::npos) << sender.name;
        if (!sender.pinned) {
            EXPECT_NE(log.find(std::string("R::Key type chosen: [") + key_type_name(sender.type) + "]"),
                      std::string::npos)
                << sender.name;
        }
        const auto own = std::count_if(plan.begin(), plan.end(), [&](const planned& p) { return p.sender == &sender; });
        EXPECT_EQ(sender.handler->clear_completed(), static_cast<std::size_t>(own));
    }

    // Every body has ended on both sides: descriptors and threads are back where they started (a thread of the
    // warm-up still on its way out when they were counted may make "now" lower, never higher).
    EXPECT_TRUE(wait_for([&] { return count_entries(listener_proc + "/fd") <= listener_fds; }, 10s))
        << "listener descriptors: " << count_entries(listener_proc + "/fd") << " now, " << listener_fds << " before";
    EXPECT_TRUE(wait_for([&] { return count_entries(listener_proc + "/task") <= listener_threads; }, 10s))
        << "listener threads: " << count_entries(listener_proc + "/task") << " now, " << listener_threads << " before";
    EXPECT_TRUE(wait_for([&] { return count_entries("/proc/self/fd") <= own_fds; }, 10s))
        << "sender descriptors: " << count_entries("/proc/self/fd") << " now, " << own_fds << " before";
    EXPECT_TRUE(wait_for([&] { return count_entries("/proc/self/task") <= own_threads; }, 10s))
        << "sender threads: " << count_entries("/proc/self/task") << " now, " << own_threads << " before";

    // The transfers overlapped, and the listener kept to its limit. A body gives its slot back just before its
    // thread ends, so a few threads may still be on their way out (more of them under a sanitizer, whose thread
    // exit does more work) while their successors start; 200 at once would show far more.
    constexpr std::size_t leaving = 16;
    EXPECT_GT(most_listener_threads, listener_threads + 8) << "the transfers did not run at once";
    EXPECT_LE(most_listener_threads, listener_threads + incoming_connection_handler::default_max_receiving + leaving);

    const std::size_t peak = status_kib(listener, "VmHWM");
    const double mib = static_cast<double>(total_bytes) / (1 << 20);
    RecordProperty("listener_peak_kib", std::to_string(peak));
    RecordProperty("seconds", std::to_string(seconds));
    std::printf("load: %zu transfers, %.1f MiB in %.2f s: %.0f files/s, %.1f MiB/s; listener peak memory (VmHWM) "
                "%.1f MiB, %.1f MiB before the load; at most %zu listener threads, %zu at rest\n",
                transfer_count, mib, seconds, static_cast<double>(transfer_count) / seconds, mib / seconds,
                static_cast<double>(peak) / 1024, static_cast<double>(memory_before) / 1024, most_listener_threads,
                listener_threads);

    m_pListener->signal(SIGTERM);
    EXPECT_EQ(m_pListener->wait(20000), 0) << m_pListener->output().substr(log.size());
}

TEST_F(LoadTest, FiftyThousandEmptyConnectionsLeaveNoThreadOrMappingBehind) {
#ifdef QUORVEL_LOAD_UNDER_SANITIZER
    constexpr std::size_t connections = 5000;
#else
    constexpr std::size_t connections = 50000;
#endif
    ASSERT_NO_FATAL_FAILURE(start_listener());
    const pid_t listener = child_listener();
    ASSERT_GT(listener, 0);
    load_sender& ann = m_aSenders[0];
    write_random_file(source(ann, "warm-up"), 1000);
    (void)send(ann, "warm-up");
    ASSERT_TRUE(all_sent(30s));
    ASSERT_EQ(ann.handler->clear_completed(), 1U);

    const auto deadline = std::chrono::steady_clock::now() + 240s;
    std::size_t made = 0;
    std::size_t tried = 0;
    const auto connect_until = [&](std::size_t count) {
        for (; tried < count && std::chrono::steady_clock::now() < deadline; ++tried) {
            made += touch_and_reset(m_nPort) ? 1 : 0;
        }
    };
    // The first tenth sets up what the listener keeps for good under load (the C library's per-thread arenas).
    const std::size_t resting_threads = figures_of(listener).threads;
    connect_until(connections / 10);
    ASSERT_TRUE(wait_for([&] { return figures_of(listener).threads <= resting_threads; }, 20s));
    const process_figures before = figures_of(listener);
    connect_until(connections);
    ASSERT_EQ(tried, connections) << "the listener stopped taking connections";
    EXPECT_GT(made, connections * 9 / 10);

    EXPECT_TRUE(wait_for([&] { return figures_of(listener).threads <= before.threads; }, 20s))
        << figures_of(listener).threads << " threads now, " << before.threads << " before";
#ifndef QUORVEL_LOAD_UNDER_SANITIZER
    // A leak is two mappings (a stack and its guard page) per connection. The C library keeps a few freed stacks
    // for reuse and may open more per-thread arenas (two mappings each, at most eight per core) as load rises; the
    // address space those arenas reserve is why the mappings are counted rather than the size.
    const process_figures after = figures_of(listener);
    EXPECT_LE(after.mappings, before.mappings + 64) << after.mappings << " mappings now, " << before.mappings;
#endif
    write_random_file(source(ann, "after.bin"), 4096);
    const std::shared_ptr<socket_thread> after_flood = send(ann, "after.bin");
    ASSERT_TRUE(all_sent(30s));
    EXPECT_FALSE(after_flood->snapshot().failed) << after_flood->snapshot().status_text;
    EXPECT_EQ(file_sha256(s_pBob->home() + "/PBoxes/Ann/after.bin"), file_sha256(source(ann, "after.bin")));
}

TEST_F(LoadTest, AThousandSmallParcelsGiveBackTheirMemory) {
#ifdef QUORVEL_LOAD_UNDER_SANITIZER
    constexpr std::size_t rounds = 3;
#else
    constexpr std::size_t rounds = 10;
#endif
    constexpr std::size_t per_round = 100;
    ASSERT_NO_FATAL_FAILURE(start_listener());
    const pid_t listener = child_listener();
    ASSERT_GT(listener, 0);
    load_sender& ann = m_aSenders[0];
    [[maybe_unused]] std::size_t first_round_kib = 0; // compared only where memory figures mean something
    for (std::size_t round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < per_round; ++i) {
            const std::string name = "small-" + std::to_string(round * per_round + i);
            write_random_file(source(ann, name), 1024);
            (void)send(ann, name);
        }
        ASSERT_TRUE(all_sent(120s)) << "round " << round;
        for (const transfer_view& sent : ann.handler->snapshots()) {
            ASSERT_FALSE(sent.failed) << sent.file_name << ": " << sent.status_text;
        }
        EXPECT_EQ(ann.handler->clear_completed(), per_round);
        if (round == 0) {
            first_round_kib = status_kib(listener, "VmRSS");
        }
    }
    EXPECT_EQ(count_entries(s_pBob->home() + "/PBoxes/Ann"), rounds * per_round);
#ifndef QUORVEL_LOAD_UNDER_SANITIZER
    const std::size_t last_kib = status_kib(listener, "VmRSS");
    EXPECT_LE(last_kib, first_round_kib + 4 * 1024)
        << "resident " << last_kib << " KiB after " << rounds * per_round << " parcels, " << first_round_kib
        << " KiB after the first " << per_round;
#endif
}

} // namespace
} // namespace tiv::test
