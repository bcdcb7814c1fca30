#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "core/unique_fd.h"
#include "platform/registry/registry.h"
#include "registry_test_util.h"
#include "support/temp_home.h"

namespace tiv::test {
namespace {

using namespace tiv::reg;

// Contents that depend on the value's name and vary in length, so a value mixed up with another or
// cut short is seen.
std::vector<std::uint8_t> pattern_for(const std::string& name, std::size_t length) {
    std::vector<std::uint8_t> data(length);
    std::uint32_t state = 2166136261u;
    for (const char c : name) {
        state = (state ^ static_cast<std::uint8_t>(c)) * 16777619u;
    }
    for (auto& byte : data) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return data;
}

std::string child_value_name(int child, int index) {
    return "Child" + std::to_string(child) + "-" + std::to_string(index);
}

// Waits for a child that must end on its own; its exit code, or -1.
int wait_exit_code(pid_t pid) {
    int child_status = 0;
    if (::waitpid(pid, &child_status, 0) != pid || !WIFEXITED(child_status)) {
        return -1;
    }
    return WEXITSTATUS(child_status);
}

// Runs in a forked child, so it reports through its exit code instead of GoogleTest.
int write_as_child(int child, int count, int start_fd, const hive* inherited) {
    char go = 0;
    if (::read(start_fd, &go, 1) < 0) {
        return 10;
    }
    key root_key;
    if (open_root(root::machine, root_key) != success) {
        return 11;
    }
    // The parent's connection came along through fork(); SQLite forbids using it here.
    if (root_key.owner() == inherited) {
        return 12;
    }
    key shared;
    if (create_key(root_key, "Shared", shared) != success) {
        return 13;
    }
    for (int i = 0; i < count; ++i) {
        const std::string name = child_value_name(child, i);
        if (write_bytes(shared, name, REG_BINARY, pattern_for(name, 1 + (i * 37) % 300)) != success) {
            return 14;
        }
    }
    return 0;
}

class registry_concurrency_test : public home_test {};

TEST_F(registry_concurrency_test, processes_writing_one_hive_at_once_lose_nothing) {
    constexpr int children = 4;
    constexpr int per_child = 200;
    // The parent keeps the hive open across fork(), as the program does with its settings keys.
    key shared = create(open_root_key(root::machine), "Shared");
    ASSERT_EQ(write_bytes(shared, "Parent", REG_DWORD, {1, 0, 0, 0}), success);

    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    unique_fd start_read(start[0]);
    unique_fd start_write(start[1]);
    std::vector<pid_t> pids;
    for (int child = 0; child < children; ++child) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            start_write.reset();
            ::_exit(write_as_child(child, per_child, start_read.get(), shared.owner()));
        }
        pids.push_back(pid);
    }
    // Closing the pipe releases every child at once.
    start_write.reset();
    for (const pid_t pid : pids) {
        EXPECT_EQ(wait_exit_code(pid), 0);
    }

    std::vector<value_entry> all;
    ASSERT_EQ(enum_values(shared, all), success);
    EXPECT_EQ(all.size(), static_cast<std::size_t>(children * per_child + 1));
    for (int child = 0; child < children; ++child) {
        for (int i = 0; i < per_child; ++i) {
            const std::string name = child_value_name(child, i);
            const auto read = read_value(shared, name);
            ASSERT_TRUE(read.has_value()) << name;
            EXPECT_EQ(read->data, pattern_for(name, 1 + (i * 37) % 300)) << name;
        }
    }
}

TEST_F(registry_concurrency_test, a_writer_killed_midway_leaves_only_whole_values) {
    key root_key = open_root_key(root::user);
    key target = create(root_key, "Crash");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        key own_root;
        key own;
        if (open_root(root::user, own_root) != success || open_key(own_root, "Crash", own) != success) {
            ::_exit(1);
        }
        // Large values, rewritten over and over, so the kill lands in the middle of some write.
        for (int i = 0; i < 100000; ++i) {
            const std::string name = "V" + std::to_string(i % 50);
            if (write_bytes(own, name, REG_BINARY, pattern_for(name + std::to_string(i), 200000 + i % 1000)) !=
                    success ||
                write_bytes(own, name + "-round", REG_DWORD,
                            {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8),
                             static_cast<std::uint8_t>(i >> 16), 0}) != success) {
                ::_exit(2);
            }
        }
        ::_exit(0);
    }
    const bool busy = wait_for(
        [&] {
            std::vector<value_entry> seen;
            return enum_values(target, seen) == success && seen.size() >= 60;
        },
        std::chrono::seconds(20));
    ::kill(pid, SIGKILL);
    int child_status = 0;
    ASSERT_EQ(::waitpid(pid, &child_status, 0), pid);
    ASSERT_TRUE(busy);
    EXPECT_TRUE(WIFSIGNALED(child_status));

    // Each data value must match the round recorded beside it or the one before (the kill may fall
    // between the two writes); anything else is a torn or mixed value.
    std::vector<value_entry> all;
    ASSERT_EQ(enum_values(target, all), success);
    for (int n = 0; n < 50; ++n) {
        const std::string name = "V" + std::to_string(n);
        const auto data = read_value(target, name);
        const auto round = read_value(target, name + "-round");
        if (!round.has_value()) {
            continue;
        }
        ASSERT_TRUE(data.has_value()) << name;
        ASSERT_EQ(round->data.size(), 4u);
        const int last = round->data[0] | round->data[1] << 8 | round->data[2] << 16;
        const bool matches_round = data->data == pattern_for(name + std::to_string(last), 200000 + last % 1000);
        const int next = last + 50;
        const bool matches_next = data->data == pattern_for(name + std::to_string(next), 200000 + next % 1000);
        EXPECT_TRUE(matches_round || matches_next) << name << " round " << last;
    }
    EXPECT_EQ(write_bytes(target, "After", REG_BINARY, {1}), success);
}

TEST_F(registry_concurrency_test, threads_share_keys_and_hives) {
    constexpr int threads = 8;
    constexpr int per_thread = 100;
    key shared = create(open_root_key(root::user), "Threads");
    std::atomic<int> failures{0};
    std::atomic<bool> writers_done{false};

    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            // Each thread opens the root itself: concurrent opens must meet in one hive.
            key root_key;
            key own;
            if (open_root(root::user, root_key) != success || root_key.owner() != shared.owner() ||
                create_key(root_key, "Threads\\T" + std::to_string(t), own) != success) {
                ++failures;
                return;
            }
            for (int i = 0; i < per_thread; ++i) {
                const std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
                const auto data = pattern_for(name, 8 + i);
                if (write_bytes(shared, name, REG_BINARY, data) != success ||
                    write_bytes(own, name, REG_BINARY, data) != success) {
                    ++failures;
                }
                // Another thread's value is either not there yet or whole.
                const std::string other = "t" + std::to_string((t + 1) % threads) + "-" + std::to_string(i);
                std::uint32_t size = 0;
                const error_code asked = query_value(shared, other, nullptr, nullptr, &size);
                if (asked == success) {
                    const auto read = read_value(shared, other);
                    if (!read.has_value() || read->data != pattern_for(other, 8 + i)) {
                        ++failures;
                    }
                } else if (asked != file_not_found) {
                    ++failures;
                }
            }
        });
    }
    // Meanwhile keys come and go beside the writers, and the subkeys are listed.
    std::thread churn([&] {
        int round = 0;
        while (!writers_done.load()) {
            key scratch;
            std::vector<std::string> names;
            if (create_key(shared, "Scratch", scratch) != success ||
                set_value(scratch, "N", REG_DWORD, &round, 4) != success || delete_key(shared, "scratch") != success ||
                enum_key_names(shared, names) != success) {
                ++failures;
            }
            ++round;
        }
    });
    for (auto& worker : workers) {
        worker.join();
    }
    writers_done = true;
    churn.join();
    EXPECT_EQ(failures.load(), 0);

    std::vector<value_entry> all;
    ASSERT_EQ(enum_values(shared, all), success);
    EXPECT_EQ(all.size(), static_cast<std::size_t>(threads * per_thread));
    std::vector<std::string> names;
    ASSERT_EQ(enum_key_names(shared, names), success);
    EXPECT_EQ(names.size(), static_cast<std::size_t>(threads));
    for (int t = 0; t < threads; ++t) {
        key own;
        ASSERT_EQ(open_key(shared, "T" + std::to_string(t), own), success);
        ASSERT_EQ(enum_values(own, all), success);
        ASSERT_EQ(all.size(), static_cast<std::size_t>(per_thread));
        for (const value_entry& entry : all) {
            EXPECT_EQ(entry.data, pattern_for(entry.name, entry.data.size())) << entry.name;
        }
    }
}

// The machine hive of a shared computer: readable by every user, writable by its owner only, in a directory other
// users may not write (so SQLite cannot make its shared-memory file there). Its values read; every change is refused.
TEST_F(registry_concurrency_test, a_hive_this_user_may_only_read_opens_read_only) {
    key machine = create(open_root_key(root::machine), "Software\\Velmora");
    ASSERT_EQ(set_value(machine, "InterfaceIPPort", REG_DWORD, "\x20\x4e\0\0", 4), success);
    machine.close();
    const std::string path = hive_location(root::machine);
    // Another user must be able to reach the file and read it, but not write it.
    ASSERT_EQ(::chmod(m_oHome.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    }
    ::setenv("QUORVEL_MACHINE_DB", path.c_str(), 1);

    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Run as an ordinary user even when the tests run as root; each failed step exits with its own code.
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(20);
        }
        key root_key;
        if (open_root(root::machine, root_key) != success || !is_read_only(root_key)) {
            ::_exit(21);
        }
        key version;
        std::uint32_t port = 0;
        std::uint32_t size = sizeof port;
        if (open_key(root_key, "Software\\Velmora", version) != success ||
            query_value(version, "InterfaceIPPort", nullptr, &port, &size) != success || port != 20000) {
            ::_exit(22);
        }
        key created;
        if (set_value(version, "InterfaceIPPort", REG_DWORD, "\0\0\0\0", 4) != access_denied ||
            create_key(root_key, "Other", created) != access_denied) {
            ::_exit(23);
        }
        ::_exit(0);
    }
    EXPECT_EQ(wait_exit_code(pid), 0) << "the step that failed: 20 identity, 21 open, 22 value, 23 write";
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
}

} // namespace
} // namespace tiv::test
