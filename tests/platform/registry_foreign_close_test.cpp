#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/unique_fd.h"
#include "platform/registry.h"
#include "settings/registry_names.h"
#include "support/cli_runner.h"
#include "support/temp_home.h"

namespace tiv::test {
namespace {

using namespace tiv::reg;

const std::string settings_path = std::string(names::software) + "\\" + names::program_key + "\\" + names::version_key;

// What a file chooser does to every file of a folder it lists: open it, read its first bytes to guess the
// type, close it. On Linux that close drops every POSIX lock this process holds on the file.
void glance_at(const std::string& path) {
    const unique_fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char head[512];
    if (file) {
        (void)::read(file.get(), head, sizeof head);
    }
}

bool set_port(const key& k, std::uint32_t port) {
    return set_value(k, names::interface_ip_port, REG_DWORD, &port, sizeof port) == success;
}

bool read_byte(int fd, char& byte) {
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, 20000) == 1 && ::read(fd, &byte, 1) == 1;
}

// Runs in a forked child standing in for the desktop program: it holds the machine hive open, has its folder
// listed, and writes a new port when told to; it reports each step through `reply`, and waits to be killed.
[[noreturn]] void hold_the_hive(int command, int reply) {
    key root_key;
    key settings;
    if (open_root(root::machine, root_key) != success || create_key(root_key, settings_path, settings) != success ||
        !set_port(settings, 20000)) {
        ::_exit(1);
    }
    const std::string hive = hive_location(root::machine);
    for (const std::string& path : {hive, hive + "-wal", hive + "-shm"}) {
        glance_at(path);
    }
    char go = 0;
    if (::write(reply, "r", 1) != 1 || !read_byte(command, go) || !set_port(settings, 20001) ||
        ::write(reply, "w", 1) != 1) {
        ::_exit(2);
    }
    (void)read_byte(command, go);
    ::_exit(3);
}

class registry_foreign_close_test : public home_test {};

TEST_F(registry_foreign_close_test, a_hive_kept_open_survives_a_foreign_close_and_a_kill) {
    int to_child[2];
    int from_child[2];
    ASSERT_EQ(::pipe2(to_child, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(from_child, O_CLOEXEC), 0);
    unique_fd command_read(to_child[0]);
    unique_fd command_write(to_child[1]);
    unique_fd reply_read(from_child[0]);
    unique_fd reply_write(from_child[1]);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        hold_the_hive(command_read.get(), reply_write.get());
    }
    reply_write.reset();
    const auto stop_child = [pid] {
        ::kill(pid, SIGKILL);
        int child_status = 0;
        return ::waitpid(pid, &child_status, 0) == pid && WIFSIGNALED(child_status);
    };

    char step = 0;
    ASSERT_TRUE(read_byte(reply_read.get(), step) && step == 'r') << "the holder could not write its first port";
    // Another program reads and writes the same hive, then closes it: were the holder's locks gone, that close
    // would fold the journal into the file and delete it under the holder.
    const cli_result first = run_cli_binary("reg get machine InterfaceIPPort");
    EXPECT_EQ(first.code, 0) << first.out;
    EXPECT_NE(first.out.find("dword:00004e20"), std::string::npos) << first.out;
    const cli_result other = run_cli_binary("reg set machine Probe dword 7");
    EXPECT_EQ(other.code, 0) << other.out;

    ASSERT_EQ(::write(command_write.get(), "w", 1), 1);
    const bool wrote = read_byte(reply_read.get(), step) && step == 'w';
    ASSERT_TRUE(stop_child());
    ASSERT_TRUE(wrote) << "the holder could not write its second port";

    // The holder's last port reached the file every program reads, and stays after the holder was killed.
    const cli_result after = run_cli_binary("reg get machine InterfaceIPPort");
    EXPECT_EQ(after.code, 0) << after.out;
    EXPECT_NE(after.out.find("dword:00004e21"), std::string::npos) << after.out;
    const cli_result probe = run_cli_binary("reg get machine Probe");
    EXPECT_NE(probe.out.find("dword:00000007"), std::string::npos) << probe.out;
}

} // namespace
} // namespace tiv::test
