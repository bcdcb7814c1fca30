#include "presence/private_network.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <linux/capability.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_home.h"

namespace tiv::test {

namespace {

constexpr int setup_failed = 78;

bool write_setting(const char* path, const char* value) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const auto length = static_cast<ssize_t>(std::char_traits<char>::length(value));
    const bool written = ::write(fd, value, static_cast<std::size_t>(length)) == length;
    ::close(fd);
    return written;
}

bool bring_loopback_up() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    ifreq request = {};
    std::snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return up;
}

bool drop_raw_right() {
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    data[0].effective &= ~(1U << CAP_NET_RAW);
    data[0].permitted &= ~(1U << CAP_NET_RAW);
    return ::syscall(SYS_capset, &header, data) == 0;
}

int child(const private_network_settings& settings, const std::function<int()>& body) {
    if (::unshare(CLONE_NEWNET) != 0) {
        return private_network_unavailable;
    }
    if (!bring_loopback_up() ||
        (settings.ignore_echo && !write_setting("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1")) ||
        !write_setting("/proc/sys/net/ipv4/ping_group_range", settings.unprivileged_ping ? "0 2147483647" : "1 0") ||
        (settings.drop_raw_right && !drop_raw_right())) {
        return setup_failed;
    }
    return body();
}

} // namespace

int run_in_private_network(const private_network_settings& settings, const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0) {
        return private_network_unavailable;
    }
    if (pid == 0) {
        ::_exit(child(settings, body));
    }
    int status = 0;
    const bool ended = wait_for([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(30));
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace tiv::test
