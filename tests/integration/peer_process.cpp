#include "peer_process.h"

#include <random>
#include <stdexcept>

#include "crypto/session_key_types.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/test_identity.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <openssl/evp.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

#include "net/socket/net_socket.h"
#include "support/temp_home.h"

extern char** environ;

namespace tiv::test {

void prepare_peer(test_identity& person) {
    const reg::key& machine = person.settings().machine_key();
    const bool prepared =
        write_text_setting(machine, names::interface_ip_address, "127.0.0.1") &&
        write_dword_setting(machine, names::enabled_sk_caps, all_session_key_types) &&
        write_dword_setting(machine, names::setup_complete, 1) &&
        write_dword_setting(person.settings().user_key(), names::setup_complete, 1) &&
        write_text_setting(person.settings().user_key(), names::parcel_box_directory_root, person.home() + "/PBoxes");
    if (!prepared) {
        throw std::runtime_error("cannot prepare a test peer");
    }
}

void write_random_file(const std::string& path, std::size_t size) {
    std::vector<char> bytes(size);
    std::mt19937 generator(static_cast<unsigned>(size * 31 + path.size()));
    for (char& byte : bytes) {
        byte = static_cast<char>(generator());
    }
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
}

std::vector<char*> exec_vector(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

std::vector<std::string> environment_with_home(const std::string& home) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "QUORVEL_HOME=", 13) != 0 && std::strncmp(*entry, "QUORVEL_MACHINE_DB=", 19) != 0) {
            environment.emplace_back(*entry);
        }
    }
    environment.push_back("QUORVEL_HOME=" + home);
    return environment;
}

int wait_for_exit(pid_t& pid, int timeout_ms) {
    int status = 0;
    if (pid <= 0 ||
        !wait_for([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::milliseconds(timeout_ms))) {
        return -1;
    }
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

std::string read_file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {
std::vector<std::string> command_line(const char* binary, const std::vector<std::string>& arguments) {
    std::vector<std::string> args = {binary};
    args.insert(args.end(), arguments.begin(), arguments.end());
    return args;
}
} // namespace

peer_process::peer_process(const std::string& home, const std::vector<std::string>& arguments,
                           const std::string& output)
    : m_strOutput(output) {
    const char* binary = std::getenv("QUORVEL_CLI");
    if (binary == nullptr) {
        return;
    }
    std::vector<std::string> environment = environment_with_home(home);
    std::vector<char*> envp = exec_vector(environment);
    std::vector<std::string> args = command_line(binary, arguments);
    std::vector<char*> argv = exec_vector(args);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (posix_spawn(&m_nPid, binary, &actions, nullptr, argv.data(), envp.data()) != 0) {
        m_nPid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

peer_process::peer_process(const std::string& home, const std::vector<std::string>& arguments,
                           const std::string& output, const other_user& user)
    : m_strOutput(output) {
    const char* binary = std::getenv("QUORVEL_CLI");
    if (binary == nullptr) {
        return;
    }
    std::vector<std::string> args = command_line(binary, arguments);
    std::vector<char*> argv = exec_vector(args);
    std::vector<std::string> environment = {"QUORVEL_HOME=" + home, "QUORVEL_MACHINE_DB=" + user.machine_db,
                                            "HOME=" + home, "PATH=/usr/bin:/bin"};
    std::vector<char*> envp = exec_vector(environment);
    m_nPid = ::fork();
    if (m_nPid == 0) {
        // Only async-signal-safe calls from here on.
        if (::setgroups(0, nullptr) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0) {
            ::_exit(126);
        }
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0 || ::dup2(fd, STDERR_FILENO) < 0) {
            ::_exit(126);
        }
        ::execve(binary, argv.data(), envp.data());
        ::_exit(127);
    }
}

peer_process::~peer_process() {
    if (m_nPid > 0) {
        ::kill(m_nPid, SIGKILL);
        ::waitpid(m_nPid, nullptr, 0);
    }
}

std::string peer_process::output() const {
    return read_file_text(m_strOutput);
}

bool peer_process::wait_for_output(const std::string& text, int timeout_ms) const {
    return wait_for([&] { return output().find(text) != std::string::npos; }, std::chrono::milliseconds(timeout_ms));
}

void peer_process::signal(int number) const {
    if (m_nPid > 0) {
        ::kill(m_nPid, number);
    }
}

int peer_process::wait(int timeout_ms) {
    return wait_for_exit(m_nPid, timeout_ms);
}

int free_loopback_port() {
    net_socket probe;
    net_address local;
    if (!resolve_address("127.0.0.1", 0, local) || !open_tcp_socket(probe) || !bind_socket(probe, local)) {
        return 0;
    }
    return ntohs(probe.address.endpoint.v4.sin_port);
}

std::string file_sha256(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        EVP_DigestUpdate(context, chunk, static_cast<std::size_t>(in.gcount()));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    EVP_MD_CTX_free(context);
    static const char* hex = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

} // namespace tiv::test
