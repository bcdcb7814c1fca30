#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tiv::test {

// A real quorvel-cli process with its own QUORVEL_HOME; stdout and stderr go to one file.
class peer_process {
public:
    peer_process(const std::string& home, const std::vector<std::string>& arguments, const std::string& output);
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
