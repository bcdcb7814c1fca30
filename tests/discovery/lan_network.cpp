#include "lan_network.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "integration/peer_process.h"
#include "support/temp_home.h"

extern char** environ;

namespace tiv::test {

// A daemon the test started, with its output in a file; killed with the network.
class spawned_daemon {
public:
    spawned_daemon(std::vector<std::string> arguments, const std::string& output) : m_strOutput(output) {
        std::vector<char*> argv = exec_vector(arguments);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        if (posix_spawnp(&m_nPid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            m_nPid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    spawned_daemon(const spawned_daemon&) = delete;
    spawned_daemon& operator=(const spawned_daemon&) = delete;
    ~spawned_daemon() {
        if (m_nPid > 0) {
            ::kill(m_nPid, SIGTERM);
            if (wait_for_exit(m_nPid, 3000) == -1 && m_nPid > 0) {
                ::kill(m_nPid, SIGKILL);
                ::waitpid(m_nPid, nullptr, 0);
            }
        }
    }
    [[nodiscard]] bool wait_for_output(const std::string& text, int timeout_ms) const {
        return wait_for([&] { return read_file_text(m_strOutput).find(text) != std::string::npos; },
                        std::chrono::milliseconds(timeout_ms));
    }
    [[nodiscard]] std::string output() const { return read_file_text(m_strOutput); }

private:
    pid_t m_nPid = -1;
    std::string m_strOutput;
};

namespace {
bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

// A bus that lets anyone own any name, Avahi's included, and call anything.
std::string bus_config(const std::string& socket) {
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><listen>unix:path=" +
           socket +
           "</listen><auth>EXTERNAL</auth>"
           "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
           "<allow receive_sender=\"*\"/></policy></busconfig>\n";
}

std::string avahi_config(const std::string& host, const std::string& veth) {
    return "[server]\nhost-name=" + host + "\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=" + veth +
           "\nenable-dbus=yes\n[wide-area]\nenable-wide-area=no\n"
           "[publish]\npublish-hinfo=no\npublish-workstation=no\n";
}
} // namespace

lan_network::lan_network(std::string& why, bool& unavailable) {
    unavailable = true;
    if (::geteuid() != 0) {
        why = "LAN discovery tests need root to make network namespaces";
        return;
    }
    if (!run("command -v avahi-daemon") || !run("command -v dbus-daemon")) {
        // Missing, they are a failure: the test command installs them.
        unavailable = false;
        why = "avahi-daemon and dbus-daemon are not installed (scripts/install-deps installs them)";
        return;
    }
    const std::string id = std::to_string(::getpid());
    m_strWork = (std::filesystem::temp_directory_path() / ("quorvel-lan-" + id)).string();
    std::filesystem::create_directories(m_strWork);
    m_aSides = {side{"qvl-lan-a-" + id, "10.77.1.1", "unix:path=" + m_strWork + "/bus-0"},
                side{"qvl-lan-b-" + id, "10.77.1.2", "unix:path=" + m_strWork + "/bus-1"}};
    const std::array<std::string, 2> veth = {"qvla" + id, "qvlb" + id};
    if (!run("ip netns add " + m_aSides[0].netns) || !run("ip netns add " + m_aSides[1].netns)) {
        why = "this process may not make network namespaces (ip netns add failed)";
        return;
    }
    unavailable = false;
    if (!run("ip link add " + veth[0] + " type veth peer name " + veth[1])) {
        why = "no veth pair could be made";
        return;
    }
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string in = "ip -n " + m_aSides[i].netns + " ";
        if (!run("ip link set " + veth[i] + " netns " + m_aSides[i].netns) ||
            !run(in + "addr add " + m_aSides[i].address + "/24 dev " + veth[i]) ||
            !run(in + "link set " + veth[i] + " up") || !run(in + "link set lo up")) {
            why = "the veth pair could not be set up in the namespaces";
            return;
        }
    }
    std::filesystem::create_directories("/run/avahi-daemon");
    for (std::size_t i = 0; i < 2; ++i) {
        if (!start_daemons(i, veth[i], why)) {
            return;
        }
    }
}

bool lan_network::start_daemons(std::size_t index, const std::string& veth, std::string& why) {
    const std::string n = std::to_string(index);
    write_text(m_strWork + "/bus-" + n + ".conf", bus_config(m_strWork + "/bus-" + n));
    write_text(m_strWork + "/avahi-" + n + ".conf", avahi_config("qvl-host-" + n, veth));
    m_aDaemons[index * 2] = std::make_unique<spawned_daemon>(
        std::vector<std::string>{"dbus-daemon", "--nofork", "--nopidfile", "--print-address",
                                 "--config-file=" + m_strWork + "/bus-" + n + ".conf"},
        m_strWork + "/bus-" + n + ".out");
    if (!m_aDaemons[index * 2]->wait_for_output("unix:", 5000)) {
        why = "dbus-daemon did not start: " + m_aDaemons[index * 2]->output();
        return false;
    }
    // `ip netns exec` gives the daemon a mount namespace of its own, where its fixed pid file and socket directory
    // can be private to it.
    const std::string command =
        "mount -t tmpfs tmpfs /run/avahi-daemon && DBUS_SYSTEM_BUS_ADDRESS=" + m_aSides[index].bus +
        " exec avahi-daemon --no-drop-root --no-chroot --no-rlimits -f " + m_strWork + "/avahi-" + n + ".conf";
    m_aDaemons[index * 2 + 1] = std::make_unique<spawned_daemon>(
        std::vector<std::string>{"ip", "netns", "exec", m_aSides[index].netns, "sh", "-c", command},
        m_strWork + "/avahi-" + n + ".out");
    if (!m_aDaemons[index * 2 + 1]->wait_for_output("Server startup complete", 10000)) {
        why = "avahi-daemon did not start: " + m_aDaemons[index * 2 + 1]->output();
        return false;
    }
    return true;
}

lan_network::~lan_network() {
    for (auto daemon = m_aDaemons.rbegin(); daemon != m_aDaemons.rend(); ++daemon) {
        daemon->reset();
    }
    // The veth pair goes with the namespaces.
    for (const side& s : m_aSides) {
        if (!s.netns.empty()) {
            (void)run("ip netns delete " + s.netns);
        }
    }
    if (!m_strWork.empty()) {
        std::filesystem::remove_all(m_strWork);
    }
}

inside::inside(const lan_network::side& side) : m_nHome(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    const int target = ::open(("/run/netns/" + side.netns).c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(::setns(target, CLONE_NEWNET), 0) << "cannot enter " << side.netns;
    ::close(target);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", side.bus.c_str(), 1);
}

inside::~inside() {
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    (void)::setns(m_nHome, CLONE_NEWNET);
    ::close(m_nHome);
}

} // namespace tiv::test
