#include "lan_network.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include "integration/peer_process.h"

namespace tiv::test {

namespace {
int run_script(const std::string& action, const std::string& work, const std::string& id) {
    const std::string command = std::string("sh ") + LAN_NETWORK_SCRIPT + " " + action + " " + work + " " + id + " >" +
                                work + "/" + action + ".out 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
} // namespace

lan_network::lan_network(std::string& why, bool& unavailable) : m_strId(std::to_string(::getpid())) {
    m_strWork = (std::filesystem::temp_directory_path() / ("quorvel-lan-" + m_strId)).string();
    std::filesystem::create_directories(m_strWork);
    const int code = run_script("up", m_strWork, m_strId);
    unavailable = code == 77;
    if (code != 0) {
        why = read_file_text(m_strWork + "/up.out");
    }
}

lan_network::~lan_network() {
    (void)run_script("down", m_strWork, m_strId);
    std::filesystem::remove_all(m_strWork);
}

lan_network::side lan_network::at(std::size_t index) const {
    const std::string letter = index == 0 ? "a" : "b";
    return {"qvl-lan-" + letter + "-" + m_strId, index == 0 ? "10.77.1.1" : "10.77.1.2",
            "unix:path=" + m_strWork + "/bus-" + letter};
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
