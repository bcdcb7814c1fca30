#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "app/internal/settings/identity_service.h"
#include "peer_pair.h"
#include "peer_process.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv::test {
namespace {

// A suite of its own: Bob's keys change here, which the other suites' Bob must not see.
using RekeyWhileListening = peer_pair_test;

TEST_F(RekeyWhileListening, TheRunningListenerAnswersWithTheNewKeysAtOnce) {
    int runs = 0;
    std::string output;
    const auto run = [&](test_identity& person, const std::vector<std::string>& arguments) {
        peer_process process(person.home(), arguments, m_strWork + "/run-" + std::to_string(++runs) + ".out");
        const int code = process.wait(60000);
        output = process.output();
        return code;
    };
    s_pBob->befriend(*s_pAlice, 0xE40, true);
    s_pAlice->befriend(*s_pBob, 0xE40, true);
    // Named as Alice knows him, so his exported profile replaces that one.
    ASSERT_TRUE(app::save_setting(s_pBob->settings(), text_setting::user_name, "Bob"));
    const int port = free_loopback_port();
    ASSERT_TRUE(write_dword_setting(s_pBob->settings().machine_key(), names::interface_ip_port,
                                    static_cast<std::uint32_t>(port)));
    peer_process listener(s_pBob->home(), {"listen"}, m_strWork + "/listen.out");
    ASSERT_TRUE(listener.wait_for_output("Listening on 127.0.0.1:" + std::to_string(port), 15000));
    const std::string to = "--to=127.0.0.1:" + std::to_string(port);
    const std::string sent = m_strWork + "/sent.bin";
    write_random_file(sent, 1000);
    ASSERT_EQ(run(*s_pAlice, {"send", "Bob", sent, to}), 0) << output << "; it saves the session offered next";

    ASSERT_EQ(run(*s_pBob, {"rekey", "--bits", "1024", "--yes"}), 0) << output;
    EXPECT_NE(run(*s_pAlice, {"send", "Bob", sent, to}), 0) << "Bob's old key still answers";
    EXPECT_NE(output.find("keys do not match the profile you hold"), std::string::npos) << output;
    EXPECT_EQ(listener.output().find("R::TLS session resumed"), std::string::npos) << "a session of the old key";

    ASSERT_EQ(run(*s_pBob, {"export-profile", m_strWork + "/bob.prf"}), 0) << output;
    ASSERT_EQ(run(*s_pAlice, {"import-profile", m_strWork + "/bob.prf", "--replace-keys"}), 0) << output;
    ASSERT_EQ(run(*s_pAlice, {"send", "Bob", sent, to}), 0) << output;
    EXPECT_TRUE(listener.wait_for_output("Key pair [signature] was replaced on disk", 5000)) << listener.output();
}

} // namespace
} // namespace tiv::test
