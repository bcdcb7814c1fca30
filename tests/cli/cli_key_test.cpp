#include <filesystem>
#include <gtest/gtest.h>

#include "platform/paths.h"
#include "support/cli_runner.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

using test::run_cli;

class CliKeys : public test::home_test {};

TEST_F(CliKeys, ReadersStopOnALostKeyAndOnlyAConfirmedRekeyReplacesIt) {
    ASSERT_EQ(run_cli({"init", "--name", "Alice", "--port", "20555", "--key-bits", "1024"}).code, 0);
    const std::string exchange = paths::key_container_root() + "/Velmora%5CQuorvel/exchange.pem";
    ASSERT_TRUE(std::filesystem::remove(exchange));

    for (const auto& reader : {run_cli({"whoami"}), run_cli({"export-profile", m_oHome.path() + "/alice"}),
                               run_cli({"init", "--key-bits", "1024"})}) {
        EXPECT_EQ(reader.code, 1);
        EXPECT_NE(reader.err.find(exchange + " is missing"), std::string::npos) << reader.err;
        EXPECT_NE(reader.err.find("run `quorvel-cli rekey`"), std::string::npos) << reader.err;
    }
    // The binary's input is no terminal here, so nobody could have confirmed.
    const auto unconfirmed = test::run_cli_binary("rekey --bits 1024 < /dev/null");
    EXPECT_EQ(unconfirmed.code, 2);
    EXPECT_NE(unconfirmed.out.find("pass --yes"), std::string::npos) << unconfirmed.out;
    EXPECT_FALSE(std::filesystem::exists(exchange)) << "no key appeared without the user's word";

    const auto rekeyed = run_cli({"rekey", "--bits", "1024", "--yes"});
    ASSERT_EQ(rekeyed.code, 0) << rekeyed.err;
    const auto after = run_cli({"whoami"});
    EXPECT_EQ(after.code, 0) << after.err;
}

} // namespace
} // namespace tiv
