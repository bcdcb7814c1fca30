#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/internal/settings/identity_service.h"
#include "peer_process.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"

namespace tiv::test {
namespace {

namespace fs = std::filesystem;

// The administrator set the computer up as root: /etc/quorvel/machine.db stands in as a root-owned file in a
// directory only root may write. Nina, an unprivileged second user, then uses the program with it.
class SharedMachine : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "running a second, unprivileged user needs root (these tests run as root in CI)";
        }
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr) {
            GTEST_SKIP() << "no 'nobody' user to act as the second user";
        }
        m_oNina = other_user{nobody->pw_uid, nobody->pw_gid, ""};
        char pattern[] = "/tmp/quorvel-shared-machine-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_strShared = pattern;
        ASSERT_EQ(::chmod(m_strShared.c_str(), 0755), 0);
        m_strMachineDb = m_strShared + "/machine.db";
        m_oNina.machine_db = m_strMachineDb;
        m_strNinaHome = m_strShared + "/nina";
        ASSERT_TRUE(fs::create_directory(m_strNinaHome));
        ASSERT_EQ(::chown(m_strNinaHome.c_str(), m_oNina.uid, m_oNina.gid), 0);
        m_nNinaPort = free_loopback_port();
        ASSERT_NE(m_nNinaPort, 0);
        {
            temp_home admin;
            ::setenv("QUORVEL_MACHINE_DB", m_strMachineDb.c_str(), 1);
            qvl_settings_data settings;
            app::identity_choices choices;
            choices.address = "127.0.0.1";
            choices.port = static_cast<std::uint32_t>(m_nNinaPort);
            std::vector<std::string> warnings;
            ASSERT_TRUE(app::set_up_identity(settings, choices, warnings).ok());
        }
        ASSERT_EQ(::chmod(m_strMachineDb.c_str(), 0644), 0) << "the administrator lets every user read it";
        m_pAlice = std::make_unique<test_identity>("Alice");
        prepare_peer(*m_pAlice);
        ASSERT_TRUE(write_text_setting(m_pAlice->settings().user_key(), names::user_name, "Alice"));
    }
    void TearDown() override {
        m_pAlice.reset();
        if (!m_strShared.empty()) {
            fs::remove_all(m_strShared);
        }
    }

    int nina(const std::vector<std::string>& arguments, std::string* output = nullptr) {
        peer_process run(m_strNinaHome, arguments, m_strNinaHome + "/run-" + std::to_string(++m_nRuns) + ".out",
                         m_oNina);
        const int code = run.wait(60000);
        if (output != nullptr) {
            *output = run.output();
        }
        return code;
    }
    int alice(const std::vector<std::string>& arguments, std::string* output = nullptr) {
        peer_process run(m_pAlice->home(), arguments, m_strShared + "/alice-" + std::to_string(++m_nRuns) + ".out");
        const int code = run.wait(60000);
        if (output != nullptr) {
            *output = run.output();
        }
        return code;
    }
    std::string shared_file(const std::string& name, std::size_t size) {
        const std::string path = m_strShared + "/" + name;
        write_random_file(path, size);
        EXPECT_EQ(::chmod(path.c_str(), 0644), 0);
        return path;
    }

    other_user m_oNina{};
    std::string m_strShared;
    std::string m_strMachineDb;
    std::string m_strNinaHome;
    int m_nNinaPort = 0;
    int m_nRuns = 0;
    std::unique_ptr<test_identity> m_pAlice;
};

TEST_F(SharedMachine, ASecondUserInitialisesReceivesIntoTheirOwnBoxAndSends) {
    const std::string machine_before = read_file_text(m_strMachineDb);
    std::string output;
    ASSERT_EQ(nina({"init", "--name", "Nina", "--key-bits", "1024"}, &output), 0) << output;
    EXPECT_NE(output.find("the machine settings at " + m_strMachineDb + " are read-only for this user"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("Listening on:    127.0.0.1:" + std::to_string(m_nNinaPort)), std::string::npos)
        << "the machine's values are used: " << output;
    EXPECT_NE(output.find("Parcel box root: " + m_strNinaHome + "/PBoxes"), std::string::npos) << output;
    EXPECT_NE(nina({"init", "--port", "20999"}, &output), 0);
    EXPECT_NE(output.find("the machine settings at " + m_strMachineDb + " could not be written"), std::string::npos)
        << output;

    // The two exchange profiles; each accepts the other's parcels.
    ASSERT_EQ(nina({"export-profile", m_strNinaHome + "/nina.prf"}, &output), 0) << output;
    ASSERT_EQ(alice({"import-profile", m_strNinaHome + "/nina.prf", "--accept", "--max-size", "unlimited"}, &output), 0)
        << output;
    ASSERT_EQ(alice({"export-profile", m_strShared + "/alice.prf"}, &output), 0) << output;
    ASSERT_EQ(::chmod((m_strShared + "/alice.prf").c_str(), 0644), 0);
    ASSERT_EQ(nina({"import-profile", m_strShared + "/alice.prf", "--accept", "--max-size", "unlimited"}, &output), 0)
        << output;

    // Alice sends to Nina, who listens where the machine settings say.
    const std::string to_nina = shared_file("to-nina.bin", 70000);
    {
        peer_process listener(m_strNinaHome, {"listen"}, m_strNinaHome + "/listen.out", m_oNina);
        ASSERT_TRUE(listener.wait_for_output("Listening on 127.0.0.1:" + std::to_string(m_nNinaPort), 15000))
            << listener.output();
        ASSERT_EQ(alice({"send", "Nina", to_nina, "--to=127.0.0.1:" + std::to_string(m_nNinaPort)}, &output), 0)
            << output << listener.output();
    }
    std::string received;
    for (const auto& entry : fs::recursive_directory_iterator(m_strNinaHome + "/PBoxes")) {
        if (entry.path().filename() == "to-nina.bin") {
            received = entry.path().string();
        }
    }
    ASSERT_FALSE(received.empty()) << "no parcel in Nina's own box";
    EXPECT_EQ(file_sha256(received), file_sha256(to_nina));
    struct stat box {};
    ASSERT_EQ(::stat(fs::path(received).parent_path().c_str(), &box), 0);
    EXPECT_EQ(box.st_uid, m_oNina.uid);
    EXPECT_EQ(box.st_mode & 0777, 0700U);

    // Nina sends to Alice.
    const int alice_port = free_loopback_port();
    ASSERT_NE(alice_port, 0);
    ASSERT_TRUE(write_dword_setting(m_pAlice->settings().machine_key(), names::interface_ip_port,
                                    static_cast<std::uint32_t>(alice_port)));
    const std::string to_alice = shared_file("to-alice.bin", 50000);
    {
        peer_process listener(m_pAlice->home(), {"listen"}, m_strShared + "/alice-listen.out");
        ASSERT_TRUE(listener.wait_for_output("Listening on 127.0.0.1:" + std::to_string(alice_port), 15000))
            << listener.output();
        ASSERT_EQ(nina({"send", "Alice", to_alice, "--to=127.0.0.1:" + std::to_string(alice_port)}, &output), 0)
            << output << listener.output();
    }
    bool delivered = false;
    for (const auto& entry : fs::recursive_directory_iterator(m_pAlice->home() + "/PBoxes")) {
        delivered |= entry.path().filename() == "to-alice.bin" && file_sha256(entry.path()) == file_sha256(to_alice);
    }
    EXPECT_TRUE(delivered);
    EXPECT_EQ(read_file_text(m_strMachineDb), machine_before) << "nothing Nina did changed the machine settings";
}

} // namespace
} // namespace tiv::test
