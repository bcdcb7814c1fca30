#include "peer_pair.h"

#include <filesystem>
#include <unistd.h>

#include "peer_process.h"

namespace tiv::test {

test_identity* peer_pair_test::s_pAlice = nullptr;
test_identity* peer_pair_test::s_pBob = nullptr;

void peer_pair_test::SetUpTestSuite() {
    s_pAlice = new test_identity("Alice");
    s_pBob = new test_identity("Bob");
    prepare_peer(*s_pAlice);
    prepare_peer(*s_pBob);
}

void peer_pair_test::TearDownTestSuite() {
    delete s_pAlice;
    delete s_pBob;
    s_pAlice = s_pBob = nullptr;
}

void peer_pair_test::SetUp() {
    const std::string suite = ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name();
    m_strWork =
        (std::filesystem::temp_directory_path() / ("quorvel-" + suite + "-" + std::to_string(::getpid()))).string();
    std::filesystem::remove_all(m_strWork);
    std::filesystem::create_directories(m_strWork);
}

void peer_pair_test::TearDown() {
    std::filesystem::remove_all(m_strWork);
}

} // namespace tiv::test
