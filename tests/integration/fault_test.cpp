#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include "crypto/session_key_types.h"
#include "peer_pair.h"
#include "peer_process.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"

extern char** environ;

namespace tiv::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t box_bytes = 1 << 20;

// quorvel-cli listen in a mount namespace of its own, in which a tmpfs of box_bytes lies over `box_root`. Only
// that process sees the small file system; the test looks into it through /proc/<pid>/root.
class confined_listener {
public:
    confined_listener(const std::string& home, const std::string& box_root, const std::string& output) {
        const char* binary = std::getenv("QUORVEL_CLI");
        if (binary == nullptr) {
            m_strRefusal = "QUORVEL_CLI is not set";
            return;
        }
        // Everything the child needs is made before the fork: between fork and exec it makes system calls only.
        std::vector<std::string> environment = environment_with_home(home);
        std::vector<char*> envp = exec_vector(environment);
        std::string program = binary;
        std::string command = "listen";
        char* argv[] = {program.data(), command.data(), nullptr};
        const std::string options = "size=" + std::to_string(box_bytes) + ",mode=0700";
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        int report[2] = {-1, -1};
        if (out < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
            m_strRefusal = std::string("cannot prepare the child: ") + std::strerror(errno);
            return;
        }
        m_nPid = ::fork();
        if (m_nPid == 0) {
            // The failed step and its errno go back through the pipe; a successful exec closes it unwritten.
            int failure[2] = {0, 0};
            if (::unshare(CLONE_NEWNS) != 0) {
                failure[0] = 1;
            } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
                failure[0] = 2;
            } else if (::mount("tmpfs", box_root.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
                failure[0] = 3;
            } else if (::dup2(out, STDOUT_FILENO) < 0 || ::dup2(out, STDERR_FILENO) < 0) {
                failure[0] = 4;
            } else {
                ::execve(program.c_str(), argv, envp.data());
                failure[0] = 5;
            }
            failure[1] = errno;
            (void)!::write(report[1], failure, sizeof failure);
            ::_exit(127);
        }
        ::close(out);
        ::close(report[1]);
        int failure[2] = {0, 0};
        const ssize_t got = m_nPid > 0 ? ::read(report[0], failure, sizeof failure) : -1;
        ::close(report[0]);
        if (m_nPid < 0) {
            m_strRefusal = std::string("fork failed: ") + std::strerror(errno);
        } else if (got == static_cast<ssize_t>(sizeof failure)) {
            static const char* const steps[] = {
                "", "unshare(CLONE_NEWNS)", "making / private", "mounting a tmpfs", "redirecting output", "exec"};
            m_bMountRefused = failure[0] <= 3;
            m_strRefusal = std::string(steps[failure[0]]) + ": " + std::strerror(failure[1]);
            ::waitpid(m_nPid, nullptr, 0);
            m_nPid = -1;
        }
    }
    confined_listener(const confined_listener&) = delete;
    confined_listener& operator=(const confined_listener&) = delete;
    ~confined_listener() {
        if (m_nPid > 0) {
            ::kill(m_nPid, SIGKILL);
            ::waitpid(m_nPid, nullptr, 0);
        }
    }

    [[nodiscard]] bool running() const { return m_nPid > 0; }
    [[nodiscard]] bool mount_refused() const { return m_bMountRefused; }
    [[nodiscard]] const std::string& refusal() const { return m_strRefusal; }
    // A path as the confined process sees it.
    [[nodiscard]] std::string inside(const std::string& path) const {
        return "/proc/" + std::to_string(m_nPid) + "/root" + path;
    }
    int stop(int timeout_ms) {
        ::kill(m_nPid, SIGTERM);
        return wait_for_exit(m_nPid, timeout_ms);
    }

private:
    pid_t m_nPid = -1;
    bool m_bMountRefused = false;
    std::string m_strRefusal;
};

// Bob's parcel box root is a file system of 1 MiB; Alice sends him more than that.
class FullParcelBox : public peer_pair_test {
protected:
    static void SetUpTestSuite() {
        peer_pair_test::SetUpTestSuite();
        s_pAlice->befriend(*s_pBob, all_session_key_types);
        s_pBob->befriend(*s_pAlice, all_session_key_types);
    }
    void SetUp() override {
        peer_pair_test::SetUp();
        fs::create_directories(box_root());
    }

    static std::string box_root() { return s_pBob->home() + "/PBoxes"; }

    int send(const std::string& file, int port, std::string& output) {
        peer_process sending(s_pAlice->home(), {"send", "Bob", file, "--to=127.0.0.1:" + std::to_string(port)},
                             m_strWork + "/send-" + std::to_string(++m_nSends) + ".out");
        const int code = sending.wait(60000);
        output = sending.output();
        return code;
    }

    int m_nSends = 0;
};

TEST_F(FullParcelBox, TransferFailsOnBothSidesAndLeavesTheSpaceFree) {
    const int port = free_loopback_port();
    ASSERT_NE(port, 0);
    ASSERT_TRUE(write_dword_setting(s_pBob->settings().machine_key(), names::interface_ip_port,
                                    static_cast<std::uint32_t>(port)));
    confined_listener listener(s_pBob->home(), box_root(), m_strWork + "/listen.out");
    if (listener.mount_refused()) {
        GTEST_SKIP() << "cannot mount a small file system for the parcel box here (needs root and a mount namespace "
                        "of its own): "
                     << listener.refusal();
    }
    ASSERT_TRUE(listener.running()) << listener.refusal();
    const std::string listen_out = m_strWork + "/listen.out";
    ASSERT_TRUE(
        wait_for([&] { return read_file_text(listen_out).find("Listening on 127.0.0.1:") != std::string::npos; },
                 std::chrono::seconds(15)))
        << read_file_text(listen_out);
    struct statvfs empty {};
    ASSERT_EQ(::statvfs(listener.inside(box_root()).c_str(), &empty), 0) << std::strerror(errno);
    const std::uint64_t free_when_empty = static_cast<std::uint64_t>(empty.f_bavail) * empty.f_frsize;
    ASSERT_LE(free_when_empty, box_bytes) << "the parcel box is not on the small file system";

    const std::string big = m_strWork + "/too-big.bin";
    write_random_file(big, 2 * box_bytes);
    std::string output;
    EXPECT_EQ(send(big, port, output), 1) << output;
    EXPECT_NE(output.find("failed, status 5"), std::string::npos) << output;
    EXPECT_TRUE(wait_for([&] { return read_file_text(listen_out).find("R:  STATUS_ERROR [6]") != std::string::npos; },
                         std::chrono::seconds(10)))
        << read_file_text(listen_out);

    const std::string box = listener.inside(box_root() + "/Alice");
    std::error_code error;
    EXPECT_TRUE(fs::is_directory(box, error)) << "the parcel box was never made: " << error.message();
    EXPECT_TRUE(fs::is_empty(box, error)) << "a partial or temporary file remains";
    // A file unlinked but still open would hold its blocks; the space must really be free again.
    struct statvfs after {};
    ASSERT_EQ(::statvfs(listener.inside(box_root()).c_str(), &after), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(after.f_bavail) * after.f_frsize, free_when_empty);

    // What fits still arrives: the failure left the file system and the listener usable.
    const std::string fits = m_strWork + "/fits.bin";
    write_random_file(fits, box_bytes * 3 / 4);
    EXPECT_EQ(send(fits, port, output), 0) << output;
    EXPECT_EQ(file_sha256(box + "/fits.bin"), file_sha256(fits));
    EXPECT_EQ(listener.stop(15000), 0) << read_file_text(listen_out);
    EXPECT_FALSE(fs::exists(box_root() + "/Alice")) << "the small file system was visible outside its namespace";
}

} // namespace
} // namespace tiv::test
