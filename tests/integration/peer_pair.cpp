#include "peer_pair.h"

#include <arpa/inet.h>
#include <filesystem>
#include <unistd.h>

#include "app/internal/listen_config.h"
#include "app/internal/settings/identity_service.h"
#include "crypto/negotiating_authentycryptor.h"
#include "net/transfer/incoming_connection_handler.h"
#include "peer_process.h"
#include "support/temp_home.h"

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

receiver_in_process::receiver_in_process(test_identity& person, std::shared_ptr<file_writer> files)
    : m_oReceiver(std::make_shared<negotiating_authentycryptor>(person.provider(), person.settings(),
                                                                negotiating_authentycryptor::version::with_stream),
                  std::move(files)) {
    // As the program starts: the settings read, the keys opened with the machine's key types.
    m_oStarted = app::open_identity(person.settings(), person.provider());
    if (m_oStarted) {
        app::listen_config config = app::listen_config_of(person.settings());
        config.port = 0;
        m_oStarted = m_oReceiver.start(config);
    }
}

int receiver_in_process::port() const {
    return m_oReceiver.listening() ? ntohs(m_oReceiver.listener()->listening_address().endpoint.v4.sin_port) : 0;
}

bool receiver_in_process::wait_received(std::size_t count, std::chrono::milliseconds limit) const {
    return wait_for([&] { return m_oReceiver.snapshots().size() >= count && m_oReceiver.running_count() == 0; }, limit);
}

} // namespace tiv::test
