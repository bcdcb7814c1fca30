#pragma once

#include <chrono>
#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace tiv::test {

// A private temporary directory set as QUORVEL_HOME for the life of the object, removed afterwards.
// QUORVEL_MACHINE_DB is cleared so the machine hive lives inside it too.
class temp_home {
public:
    temp_home();
    temp_home(const temp_home&) = delete;
    temp_home& operator=(const temp_home&) = delete;
    ~temp_home();

    [[nodiscard]] const std::string& path() const { return m_strPath; }

private:
    std::string m_strPath;
    std::string m_strPreviousHome;
    std::string m_strPreviousMachine;
    bool m_bHadHome = false;
    bool m_bHadMachine = false;
};

// Base fixture: every test gets its own home.
class home_test : public ::testing::Test {
protected:
    temp_home m_oHome;
};

// Polls `predicate` until it holds or `timeout` passes; true when it held.
bool wait_for(const std::function<bool()>& predicate, std::chrono::milliseconds timeout);

// Removes a directory tree (test clean-up only).
void remove_tree(const std::string& path);

} // namespace tiv::test
