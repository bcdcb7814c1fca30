#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/text.h"
#include "platform/uuid.h"
#include "settings/friend_profile.h"
#include "settings/qvl_settings_data.h"
#include "support/cli_runner.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

using test::run_cli;

std::string read_file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class CliIdentity : public test::home_test {};

TEST_F(CliIdentity, InitWritesDefaultsAppliesOptionsAndPrintsTheIdentity) {
    const std::string root = m_oHome.path() + "/boxes";
    const auto result = run_cli({"init", "--name", "Alice", "--address=127.0.0.1", "--port", "20123", "--parcel-root",
                                 root, "--key-bits", "1024", "--external-name", "alice.example.net"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.out.find("Alice"), std::string::npos);
    EXPECT_NE(result.out.find("127.0.0.1:20123"), std::string::npos);
    struct stat info {};
    EXPECT_EQ(::stat(root.c_str(), &info), 0) << "init creates the parcel box root";
    EXPECT_EQ(info.st_mode & 0777, 0700U) << "other users may not look into it";
    const std::string exported = m_oHome.path() + "/alice.prf";
    ASSERT_EQ(run_cli({"export-profile", exported}).code, 0);
    EXPECT_NE(read_file_text(exported).find("\r\nADDR: alice.example.net\r\n"), std::string::npos)
        << "friends get the name they can reach";

    const auto whoami = run_cli({"whoami"});
    ASSERT_EQ(whoami.code, 0) << whoami.err;
    // The identity as init printed it, then whether friends reach it from the internet.
    EXPECT_EQ(whoami.out, result.out + "Not reachable from the internet: listening on a loopback address\n");
    qvl_settings_data settings;
    settings.load_settings();
    EXPECT_NE(whoami.out.find(settings.text(text_setting::user_uuid)), std::string::npos);
}

TEST_F(CliIdentity, FriendsAreGivenTheListeningAddressUnlessTheUserNamedAnother) {
    const std::string exported = m_oHome.path() + "/alice.prf";
    const auto exported_address = [&exported] {
        EXPECT_EQ(run_cli({"export-profile", "--force", exported}).code, 0);
        const std::string text = read_file_text(exported);
        const std::size_t start = text.find("\r\nADDR: ") + 8;
        return text.substr(start, text.find("\r\n", start) - start);
    };
    ASSERT_EQ(run_cli({"init", "--address", "127.0.0.1", "--key-bits", "1024"}).code, 0);
    EXPECT_EQ(exported_address(), "127.0.0.1") << "loopback, since it was chosen";
    ASSERT_EQ(run_cli({"init", "--address", "127.0.0.2"}).code, 0);
    EXPECT_EQ(exported_address(), "127.0.0.2");
    ASSERT_EQ(run_cli({"init", "--external-name", "alice.example.net"}).code, 0);
    ASSERT_EQ(run_cli({"init", "--address", "127.0.0.1"}).code, 0);
    EXPECT_EQ(exported_address(), "alice.example.net");
    EXPECT_EQ(run_cli({"init", "--external-name", "alice\x1b[2J"}).code, 2);
}

TEST_F(CliIdentity, UsageErrorsExitTwoAndChangeNothing) {
    EXPECT_EQ(run_cli({}).code, 2);
    EXPECT_EQ(run_cli({"frobnicate"}).code, 2);
    const auto bad_port = run_cli({"init", "--port", "70000"});
    EXPECT_EQ(bad_port.code, 2);
    EXPECT_NE(bad_port.err.find("port"), std::string::npos);
    EXPECT_EQ(run_cli({"init", "--address", "example.org"}).code, 2);
    EXPECT_EQ(run_cli({"init", "--external-name", "two words"}).code, 2);
    EXPECT_EQ(run_cli({"init", "--colour"}).code, 2);
    EXPECT_EQ(run_cli({"init", "--name"}).code, 2);
    EXPECT_EQ(run_cli({"whoami"}).code, 1) << "nothing was initialised by the refused commands";
}

TEST_F(CliIdentity, EveryCommandHasHelp) {
    for (const char* name : {"init", "whoami", "friends", "reg"}) {
        const auto help = run_cli({name, "--help"});
        EXPECT_EQ(help.code, 0) << name;
        EXPECT_NE(help.out.find("Usage: quorvel-cli"), std::string::npos) << name;
    }
    EXPECT_EQ(run_cli({"--help"}).code, 0);
}

TEST_F(CliIdentity, FriendsListsOneLinePerProfile) {
    ASSERT_EQ(run_cli({"friends"}).out, "");
    qvl_settings_data settings;
    friend_profile bob;
    copy_text_field(bob.name, "Bob");
    copy_text_field(bob.address, "10.0.0.2");
    bob.port = 20001;
    const std::string uuid = uuid_to_text(make_uuid());
    copy_text_field(bob.uuid, uuid);
    ASSERT_TRUE(save_profile(settings, bob));
    const auto listed = run_cli({"friends"});
    ASSERT_EQ(listed.code, 0);
    EXPECT_EQ(listed.out, "Bob  10.0.0.2:20001  " + uuid +
                              "  no key  refuses parcels (files up to 0 bytes, at most 0 files, key types 0x000)\n");

    // An address stored before addresses were checked is shown, never acted on; a new one is refused.
    copy_text_field(bob.address, "bob\x1b]0;owned\x07\u202e");
    ASSERT_TRUE(save_profile(settings, bob));
    EXPECT_EQ(run_cli({"friends"}).out.rfind("Bob  bob\\x1b]0;owned\\x07\\u202e:20001  ", 0), 0U);
    const auto refused = run_cli({"friend-set", "Bob", "--address", "10.0.0.3\x1b[2J"});
    EXPECT_EQ(refused.code, 2);
    EXPECT_NE(refused.err.find("'10.0.0.3\\x1b[2J' holds control or bidirectional characters."), std::string::npos)
        << refused.err;
}

} // namespace
} // namespace tiv
