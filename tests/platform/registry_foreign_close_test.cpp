#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/unique_fd.h"
#include "platform/registry/registry.h"
#include "settings/registry_names.h"
#include "support/cli_runner.h"
#include "support/temp_home.h"

namespace tiv::test {
namespace {

using namespace tiv::reg;

bool step(int fd, char expected) {
    pollfd ready{fd, POLLIN, 0};
    char got = 0;
    return ::poll(&ready, 1, 20000) == 1 && ::read(fd, &got, 1) == 1 && got == expected;
}

// A forked child stands in for the desktop program: it keeps the machine hive open while a file chooser reads
// every file of its folder (and closes them: on Linux that close drops this process's POSIX locks on the file),
// then writes a new port when told to, and waits to be killed.
[[noreturn]] void hold_the_hive(int command, int reply) {
    key root_key;
    key settings;
    std::uint32_t port = 20000;
    const std::string path = std::string(names::software) + "\\" + names::program_key + "\\" + names::version_key;
    if (open_root(root::machine, root_key) != success || create_key(root_key, path, settings) != success ||
        set_value(settings, names::interface_ip_port, REG_DWORD, &port, 4) != success) {
        ::_exit(1);
    }
    const std::string hive = hive_location(root::machine);
    for (const std::string& file : {hive, hive + "-wal", hive + "-shm"}) {
        const unique_fd glance(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        char head[512];
        if (glance) {
            (void)::read(glance.get(), head, sizeof head);
        }
    }
    port = 20001;
    if (::write(reply, "r", 1) != 1 || !step(command, 'w') ||
        set_value(settings, names::interface_ip_port, REG_DWORD, &port, 4) != success || ::write(reply, "w", 1) != 1) {
        ::_exit(2);
    }
    (void)step(command, 'x');
    ::_exit(3);
}

class registry_foreign_close_test : public home_test {};

TEST_F(registry_foreign_close_test, a_hive_kept_open_survives_a_foreign_close_and_a_kill) {
    int to_child[2];
    int from_child[2];
    ASSERT_EQ(::pipe2(to_child, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(from_child, O_CLOEXEC), 0);
    const unique_fd command_read(to_child[0]);
    const unique_fd command(to_child[1]);
    const unique_fd reply(from_child[0]);
    unique_fd reply_write(from_child[1]);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        hold_the_hive(command_read.get(), reply_write.get());
    }
    reply_write.reset();
    ASSERT_TRUE(step(reply.get(), 'r'));
    // Another program reads and writes the hive and closes it: had the holder lost its locks, that close would
    // fold the journal into the file and delete it under the holder, whose later writes would go nowhere.
    const cli_result other = run_cli_binary("reg set machine Probe dword 7");
    EXPECT_EQ(other.code, 0) << other.out;
    ASSERT_EQ(::write(command.get(), "w", 1), 1);
    const bool wrote = step(reply.get(), 'w');
    ::kill(pid, SIGKILL);
    ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
    ASSERT_TRUE(wrote);

    EXPECT_EQ(run_cli_binary("reg get machine InterfaceIPPort").out, "dword:00004e21\n");
    EXPECT_EQ(run_cli_binary("reg get machine Probe").out, "dword:00000007\n");
}

} // namespace
} // namespace tiv::test
