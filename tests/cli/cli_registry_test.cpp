#include <gtest/gtest.h>

#include "settings/qvl_settings_data.h"
#include "settings/setting_value.h"
#include "support/cli_runner.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

using test::run_cli;

class CliRegistry : public test::home_test {};

TEST_F(CliRegistry, SetAndGetEveryType) {
    ASSERT_EQ(run_cli({"reg", "set", "user", "InstallationDirectory", "sz", "/var/log/q"}).code, 0);
    EXPECT_EQ(run_cli({"reg", "get", "user", "InstallationDirectory"}).out, "\"/var/log/q\"\n");
    ASSERT_EQ(run_cli({"reg", "set", "machine", "IOBlockSize", "dword", "0x2000"}).code, 0);
    EXPECT_EQ(run_cli({"reg", "get", "machine", "ioblocksize"}).out, "dword:00002000\n");
    ASSERT_EQ(run_cli({"reg", "set", "machine", "InterfaceIPPort", "dword", "20001"}).code, 0);
    ASSERT_EQ(run_cli({"reg", "set", "user", "Blob", "binary", "00,ff,10"}).code, 0);
    EXPECT_EQ(run_cli({"reg", "get", "user", "Blob"}).out, "hex:00,ff,10\n");

    qvl_settings_data settings;
    settings.load_settings();
    EXPECT_EQ(settings.number(number_setting::io_block_size), 8192U);
    EXPECT_EQ(settings.number(number_setting::listening_port), 20001U);
}

TEST_F(CliRegistry, RefusesMalformedValuesAndReportsMissingOnes) {
    EXPECT_EQ(run_cli({"reg", "set", "machine", "IOBlockSize", "dword", "12abc"}).code, 2);
    EXPECT_EQ(run_cli({"reg", "set", "machine", "IOBlockSize", "dword", "4294967296"}).code, 2);
    EXPECT_EQ(run_cli({"reg", "set", "user", "Blob", "binary", "abc"}).code, 2);
    const auto huge = run_cli({"reg", "set", "machine", "ioblocksize", "dword", "0x40000000"});
    EXPECT_EQ(huge.code, 2);
    EXPECT_EQ(huge.err, "quorvel-cli: \"IOBlockSize\" takes 512 to 1048576 bytes, not 1073741824.\n");
    EXPECT_EQ(run_cli({"reg", "set", "machine", "IOBlockSize", "dword", "511"}).code, 2);
    EXPECT_EQ(run_cli({"reg", "set", "machine", "InterfaceIPPort", "dword", "0"}).code, 2);
    const auto far = run_cli({"reg", "set", "machine", "InterfaceIPPort", "dword", "70000"});
    EXPECT_EQ(far.err, "quorvel-cli: \"InterfaceIPPort\" takes a port from 1 to 65535, not 70000.\n");
    EXPECT_EQ(run_cli({"reg", "get", "machine", "InterfaceIPPort"}).code, 1) << "nothing was stored";
    EXPECT_EQ(run_cli({"reg", "set", "galaxy", "X", "sz", "y"}).code, 2);
    const auto galaxy = run_cli({"reg", "export", "galaxy"});
    EXPECT_EQ(galaxy.code, 2);
    EXPECT_EQ(galaxy.err, "quorvel-cli: the hive must be 'machine' or 'user', not 'galaxy'.\n");
    EXPECT_EQ(run_cli({"reg", "set", "user", "X", "qword", "1"}).code, 2);
    const auto missing = run_cli({"reg", "get", "user", "Nothing"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("Nothing"), std::string::npos);
}

TEST_F(CliRegistry, ExportPrintsRegText) {
    ASSERT_EQ(run_cli({"init", "--name", "Quote\"Back\\slash", "--key-bits", "1024"}).code, 0);
    const auto exported = run_cli({"reg", "export", "user"});
    ASSERT_EQ(exported.code, 0) << exported.err;
    EXPECT_EQ(exported.out.rfind("Windows Registry Editor Version 5.00\n\n", 0), 0U);
    EXPECT_NE(exported.out.find("[HKEY_CURRENT_USER\\Software\\Velmora\\Quorvel\\Version 1.2]\n"), std::string::npos);
    EXPECT_NE(exported.out.find("\"UserName\"=\"Quote\\\"Back\\\\slash\"\n"), std::string::npos);
    EXPECT_NE(exported.out.find("\"SetupComplete\"=dword:00000001\n"), std::string::npos);
    EXPECT_EQ(exported.out.find("HKEY_LOCAL_MACHINE"), std::string::npos);
    const auto both = run_cli({"reg", "export"});
    EXPECT_NE(both.out.find("[HKEY_LOCAL_MACHINE\\Software\\Velmora\\Quorvel\\Version 1.2]"), std::string::npos);
    EXPECT_NE(both.out.find("\"InterfaceIPPort\"=dword:00004e20"), std::string::npos);
}

TEST_F(CliRegistry, RealBinaryRunsAgainstAFreshHome) {
    const auto init = test::run_cli_binary("init --name Carol --port 20999 --key-bits 1024");
    ASSERT_EQ(init.code, 0) << init.out;
    EXPECT_NE(init.out.find(":20999"), std::string::npos);
    EXPECT_EQ(test::run_cli_binary("whoami").code, 0);
    EXPECT_EQ(test::run_cli_binary("reg get machine InterfaceIPPort").out, "dword:00005207\n");
    EXPECT_EQ(test::run_cli_binary("bogus").code, 2);
}

} // namespace
} // namespace tiv
