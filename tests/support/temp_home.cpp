#include "support/temp_home.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <stdlib.h>
#include <system_error>
#include <thread>

namespace tiv::test {

namespace {
std::string read_env(const char* name, bool& present) {
    const char* value = std::getenv(name);
    present = value != nullptr;
    return present ? std::string(value) : std::string();
}
} // namespace

temp_home::temp_home() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary home");
    }
    m_strPath = pattern;
    m_strPreviousHome = read_env("QUORVEL_HOME", m_bHadHome);
    m_strPreviousMachine = read_env("QUORVEL_MACHINE_DB", m_bHadMachine);
    ::setenv("QUORVEL_HOME", m_strPath.c_str(), 1);
    ::unsetenv("QUORVEL_MACHINE_DB");
}

temp_home::~temp_home() {
    if (m_bHadHome) {
        ::setenv("QUORVEL_HOME", m_strPreviousHome.c_str(), 1);
    } else {
        ::unsetenv("QUORVEL_HOME");
    }
    if (m_bHadMachine) {
        ::setenv("QUORVEL_MACHINE_DB", m_strPreviousMachine.c_str(), 1);
    } else {
        ::unsetenv("QUORVEL_MACHINE_DB");
    }
    remove_tree(m_strPath);
}

bool wait_for(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void remove_tree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

} // namespace tiv::test
