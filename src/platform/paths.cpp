#include "platform/paths.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tiv::paths {

namespace {
std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// An XDG variable counts only when it holds an absolute path.
std::string xdg_directory(const char* variable, const char* fallback_below_home) {
    std::string value = environment(variable);
    if (!value.empty() && value.front() == '/') {
        return value;
    }
    return user_home_directory() + "/" + fallback_below_home;
}

bool file_exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}
} // namespace

std::string user_home_directory() {
    std::string home = environment("HOME");
    if (!home.empty()) {
        return home;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/tmp";
}

std::string home_directory() {
    std::string home = environment("QUORVEL_HOME");
    if (!home.empty()) {
        return home;
    }
    return xdg_directory("XDG_CONFIG_HOME", ".config") + "/quorvel";
}

std::string user_hive_path() {
    return home_directory() + "/user.db";
}

std::string machine_hive_path() {
    std::string named = environment("QUORVEL_MACHINE_DB");
    if (!named.empty()) {
        return named;
    }
    if (environment("QUORVEL_HOME").empty() && file_exists(system_machine_hive)) {
        return system_machine_hive;
    }
    return home_directory() + "/machine.db";
}

std::string key_container_root() {
    std::string home = environment("QUORVEL_HOME");
    if (!home.empty()) {
        return home + "/keys";
    }
    return xdg_directory("XDG_DATA_HOME", ".local/share") + "/quorvel/keys";
}

std::string default_log_directory() {
    std::string home = environment("QUORVEL_HOME");
    if (!home.empty()) {
        return home;
    }
    return xdg_directory("XDG_STATE_HOME", ".local/state") + "/quorvel";
}

std::string desktop_socket_path() {
    std::string home = environment("QUORVEL_HOME");
    if (home.empty()) {
        const std::string runtime = environment("XDG_RUNTIME_DIR");
        home = !runtime.empty() && runtime.front() == '/' ? runtime + "/quorvel" : home_directory();
    }
    return home + "/desktop.socket";
}

std::string autostart_directory() {
    return xdg_directory("XDG_CONFIG_HOME", ".config") + "/autostart";
}

std::string default_parcel_box_root() {
    std::string home = environment("QUORVEL_HOME");
    if (!home.empty()) {
        return home + "/PBoxes";
    }
    return user_home_directory() + "/Quorvel/PBoxes";
}

bool make_directories(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    std::string built;
    std::size_t position = 0;
    while (position <= path.size()) {
        const std::size_t slash = path.find('/', position);
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        built = path.substr(0, end);
        if (!built.empty() && ::mkdir(built.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
        position = slash + 1;
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string parent_directory(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace tiv::paths
