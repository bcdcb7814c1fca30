#include <gtest/gtest.h>

#include "core/text.h"
#include "presence/ping_socket.h"
#include "settings/friend_profile.h"
#include "settings/qvl_settings_data.h"
#include "support/cli_runner.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

using test::run_cli;

class CliPresence : public test::home_test {
protected:
    static bool can_ping() { return ping_socket().valid(); }

    void add_friend(const std::string& name, const std::string& address) {
        qvl_settings_data settings;
        friend_profile record;
        copy_text_field(record.name, name);
        copy_text_field(record.address, address);
        record.port = 20000;
        ASSERT_TRUE(save_profile(settings, record));
    }
};

TEST_F(CliPresence, UsageErrorsAndHelp) {
    for (const char* name : {"ping", "adapters"}) {
        const auto help = run_cli({name, "--help"});
        EXPECT_EQ(help.code, 0) << name;
        EXPECT_NE(help.out.find("Usage: quorvel-cli " + std::string(name)), std::string::npos);
    }
    EXPECT_EQ(run_cli({"ping"}).code, 2);
    EXPECT_EQ(run_cli({"ping", "127.0.0.1", "127.0.0.2"}).code, 2);
    EXPECT_EQ(run_cli({"ping", "--friends", "127.0.0.1"}).code, 2);
    EXPECT_EQ(run_cli({"ping", "--count", "3", "127.0.0.1"}).code, 2);
    EXPECT_EQ(run_cli({"adapters", "eth0"}).code, 2);
    const auto unresolvable = run_cli({"ping", "255.255.255.255"});
    EXPECT_EQ(unresolvable.code, 1);
    EXPECT_NE(unresolvable.err.find("cannot resolve"), std::string::npos);
}

TEST_F(CliPresence, PingShowsTheRoundTripOrTheFailure) {
    if (!can_ping()) {
        GTEST_SKIP() << "no ICMP socket can be opened here";
    }
    const auto loopback = run_cli({"ping", "127.0.0.1"});
    EXPECT_EQ(loopback.code, 0) << loopback.err;
    EXPECT_EQ(loopback.out.rfind("Ping succeeded! Round trip of ", 0), 0U) << loopback.out;
    EXPECT_NE(loopback.out.find(" milliseconds.\n"), std::string::npos);

    const auto zoneless = run_cli({"ping", "fe80::1"});
    EXPECT_EQ(zoneless.code, 1);
    EXPECT_NE(zoneless.err.find("needs the interface it is reached through"), std::string::npos) << zoneless.err;

    const auto nowhere = run_cli({"ping", "0.0.0.0"});
    EXPECT_EQ(nowhere.code, 1);
    EXPECT_NE(nowhere.err.find("Ping failed! sending failed (status -3)."), std::string::npos) << nowhere.err;
}

TEST_F(CliPresence, PingFriendsPrintsOneLinePerFriend) {
    EXPECT_EQ(run_cli({"ping", "--friends"}).out, "") << "no friends, no lines";
    if (!can_ping()) {
        GTEST_SKIP() << "no ICMP socket can be opened here";
    }
    add_friend("Carol", "127.0.0.2");
    add_friend("alice", "127.0.0.1");
    const auto result = run_cli({"ping", "--friends"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "alice OK\nCarol OK\n");
}

TEST_F(CliPresence, AdaptersPrintsTheLoopbackBranchIndented) {
    const auto result = run_cli({"adapters"});
    ASSERT_EQ(result.code, 0) << result.err;
    const auto branch = result.out.find("\n  OS Name: lo\n");
    ASSERT_NE(branch, std::string::npos) << result.out;
    EXPECT_NE(result.out.find("  Type: LOOPBACK\n"), std::string::npos);
    EXPECT_NE(result.out.find("\n    127.0.0.1 - Mask: 255.0.0.0\n", branch), std::string::npos);
}

} // namespace
} // namespace tiv
