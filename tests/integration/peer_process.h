#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tiv::test {

// Another, unprivileged user of this computer a root test runs the program as, with the machine settings the
// administrator made.
struct other_user {
    uid_t uid;
    gid_t gid;
    std::string machine_db;
};

// A real quorvel-cli process with its own QUORVEL_HOME; stdout and stderr go to one file.
class peer_process {
public:
    peer_process(const std::string& home, const std::vector<std::string>& arguments, const std::string& output);
    // The same as `user`, with only the environment the program needs (HOME is the home too).
    peer_process(const std::string& home, const std::vector<std::string>& arguments, const std::string& output,
                 const other_user& user);
    peer_process(const peer_process&) = delete;
    peer_process& operator=(const peer_process&) = delete;
    // Kills a process that is still running.
    ~peer_process();

    [[nodiscard]] bool started() const { return m_nPid > 0; }
    [[nodiscard]] std::string output() const;
    // Waits up to the time-out for `text` in the output.
    [[nodiscard]] bool wait_for_output(const std::string& text, int timeout_ms) const;
    void signal(int number) const;
    // The exit code, or -1 when it did not exit on its own within the time-out (it is then killed), or the negated
    // signal that ended it.
    int wait(int timeout_ms);

private:
    pid_t m_nPid = -1;
    std::string m_strOutput;
};

class test_identity;

// The pointers an exec call takes, ending in a null one; they point into `strings`.
[[nodiscard]] std::vector<char*> exec_vector(std::vector<std::string>& strings);

// This process's environment with QUORVEL_HOME set to `home` and no QUORVEL_MACHINE_DB.
[[nodiscard]] std::vector<std::string> environment_with_home(const std::string& home);

// Waits up to the time-out for the child `pid` to end: its exit code, or the negated signal that ended it (`pid`
// then becomes -1), or -1 when it is still running.
int wait_for_exit(pid_t& pid, int timeout_ms);

// A whole file's bytes; empty when it cannot be read.
[[nodiscard]] std::string read_file_text(const std::string& path);

// Makes a test identity ready to run as a peer process: listening on 127.0.0.1, every session key type allowed,
// set-up complete (so no first-run defaults are written again), its parcel box root inside its home.
void prepare_peer(test_identity& person);

// A file of `size` pseudo-random bytes (the same for the same name and size).
void write_random_file(const std::string& path, std::size_t size);

// A TCP port on 127.0.0.1 that was free a moment ago.
[[nodiscard]] int free_loopback_port();

// SHA-256 of a file as hex; empty when it cannot be read.
[[nodiscard]] std::string file_sha256(const std::string& path);

} // namespace tiv::test
