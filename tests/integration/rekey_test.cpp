#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "app/identity_service.h"
#include "peer_pair.h"
#include "peer_process.h"
#include "settings/friend_profile.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv::test {
namespace {

// Alice and Bob of this suite alone: Bob's keys change here, which the other suites' Bob must not see.
class RekeyWhileListening : public peer_pair_test {
protected:
    void TearDown() override {
        m_pListener.reset();
        peer_pair_test::TearDown();
    }

    int run(test_identity& person, const std::vector<std::string>& arguments) {
        peer_process process(person.home(), arguments, m_strWork + "/run-" + std::to_string(++m_nRuns) + ".out");
        const int code = process.wait(60000);
        m_strLastOutput = process.output();
        return code;
    }

    std::unique_ptr<peer_process> m_pListener;
    std::string m_strLastOutput;
    int m_nRuns = 0;
};

TEST_F(RekeyWhileListening, TheRunningListenerAnswersWithTheNewKeysAtOnce) {
    friend_profile alice = s_pAlice->as_friend(0xE40, true);
    alice.receipt_enabled = 1;
    ASSERT_TRUE(save_profile(s_pBob->settings(), alice));
    ASSERT_TRUE(save_profile(s_pAlice->settings(), s_pBob->as_friend(0xE40, true)));
    // Named as Alice knows him, so his exported profile replaces that one.
    ASSERT_TRUE(app::save_setting(s_pBob->settings(), text_setting::user_name, "Bob"));
    const int port = free_loopback_port();
    ASSERT_TRUE(write_dword_setting(s_pBob->settings().machine_key(), names::interface_ip_port,
                                    static_cast<std::uint32_t>(port)));
    m_pListener =
        std::make_unique<peer_process>(s_pBob->home(), std::vector<std::string>{"listen"}, m_strWork + "/listen.out");
    ASSERT_TRUE(m_pListener->wait_for_output("Listening on 127.0.0.1:" + std::to_string(port), 15000));
    const std::string to = "--to=127.0.0.1:" + std::to_string(port);
    const std::string first = m_strWork + "/first.bin";
    const std::string second = m_strWork + "/second.bin";
    write_random_file(first, 1000);
    write_random_file(second, 1000);
    // The first send saves the session that Alice offers from then on.
    ASSERT_EQ(run(*s_pAlice, {"send", "Bob", first, to}), 0) << m_strLastOutput;

    ASSERT_EQ(run(*s_pBob, {"rekey", "--bits", "1024", "--yes"}), 0) << m_strLastOutput;
    EXPECT_NE(run(*s_pAlice, {"send", "Bob", second, to}), 0) << "Bob's old key still answers";
    EXPECT_NE(m_strLastOutput.find("keys do not match the profile you hold"), std::string::npos) << m_strLastOutput;
    EXPECT_TRUE(m_pListener->wait_for_output("Key pair [signature] was replaced on disk; the new pair is in use", 5000))
        << m_pListener->output();
    EXPECT_EQ(m_pListener->output().find("R::TLS session resumed"), std::string::npos) << "a session of the old key";

    const std::string profile = m_strWork + "/bob.prf";
    ASSERT_EQ(run(*s_pBob, {"export-profile", profile}), 0) << m_strLastOutput;
    ASSERT_EQ(run(*s_pAlice, {"import-profile", profile, "--replace-keys"}), 0) << m_strLastOutput;
    ASSERT_EQ(run(*s_pAlice, {"send", "Bob", second, to}), 0) << m_strLastOutput;
    EXPECT_EQ(file_sha256(s_pBob->home() + "/PBoxes/Alice/second.bin"), file_sha256(second));
}

} // namespace
} // namespace tiv::test
