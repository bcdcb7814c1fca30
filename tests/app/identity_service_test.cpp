#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "app/internal/settings/identity_service.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

class IdentityService : public test::home_test {};

TEST_F(IdentityService, SetUpWritesDefaultsAppliesChoicesAndCompletesSetUp) {
    const std::string root = m_oHome.path() + "/boxes";
    {
        qvl_settings_data settings;
        EXPECT_FALSE(app::setup_complete(settings.user_key()));
        std::vector<std::string> warnings;
        app::identity_choices choices;
        choices.name = "Alice";
        choices.port = 20123;
        choices.parcel_root = root;
        ASSERT_TRUE(app::set_up_identity(settings, choices, warnings).ok());
        EXPECT_TRUE(warnings.empty());
        EXPECT_TRUE(app::setup_complete(settings.machine_key()));
        EXPECT_TRUE(app::setup_complete(settings.user_key()));
        EXPECT_TRUE(std::filesystem::is_directory(root));
    }
    qvl_settings_data again;
    ASSERT_TRUE(app::require_identity(again).ok());
    EXPECT_EQ(again.text(text_setting::user_name), "Alice");
    EXPECT_EQ(again.number(number_setting::listening_port), 20123U);
    const std::string uuid = again.text(text_setting::user_uuid);
    std::vector<std::string> warnings;
    ASSERT_TRUE(app::set_up_identity(again, {}, warnings).ok());
    EXPECT_EQ(again.text(text_setting::user_name), "Alice") << "set-up is complete: no defaults are written again";
    EXPECT_EQ(again.text(text_setting::user_uuid), uuid);
}

TEST_F(IdentityService, RefusesChoicesThatCannotWorkBeforeWritingAnything) {
    app::identity_choices choices;
    choices.address = "example.org";
    qvl_settings_data settings;
    std::vector<std::string> warnings;
    EXPECT_EQ(app::set_up_identity(settings, choices, warnings).code(), app::status_code::invalid);
    choices = {};
    choices.port = 70000;
    EXPECT_EQ(app::check_identity_choices(choices).text(), "the port must be a number from 1 to 65535.");
    EXPECT_EQ(app::require_identity(settings).code(), app::status_code::no_identity);
}

TEST_F(IdentityService, UnwritableMachineSettingsAreAWarningUntilAChoiceNeedsThem) {
    ::setenv("QUORVEL_MACHINE_DB", "/proc/quorvel-nowhere/machine.db", 1);
    qvl_settings_data settings;
    std::vector<std::string> warnings;
    ASSERT_TRUE(app::set_up_identity(settings, {}, warnings).ok());
    ASSERT_EQ(warnings.size(), 1U);
    EXPECT_NE(warnings[0].find("/proc/quorvel-nowhere/machine.db cannot be used"), std::string::npos) << warnings[0];

    const app::status port = app::save_setting(settings, number_setting::listening_port, 20001);
    EXPECT_EQ(port.code(), app::status_code::io_failure);
    EXPECT_NE(settings.number(number_setting::listening_port), 20001U) << "memory follows only what was written";
    app::identity_choices choices;
    choices.port = 20001;
    EXPECT_EQ(app::set_up_identity(settings, choices, warnings).text(),
              "the machine settings at /proc/quorvel-nowhere/machine.db could not be written.");
}

TEST_F(IdentityService, ASecondUserOfASetUpMachineGetsABoxRootOfTheirOwnAndTheMachinesKeyTypes) {
    const std::string machine = m_oHome.path() + "/shared-machine.db";
    ::setenv("QUORVEL_MACHINE_DB", machine.c_str(), 1);
    {
        qvl_settings_data first;
        std::vector<std::string> warnings;
        ASSERT_TRUE(app::set_up_identity(first, {}, warnings).ok());
        ASSERT_TRUE(write_dword_setting(first.machine_key(), names::enabled_sk_caps, 0x200));
    }
    test::temp_home second_home;
    ::setenv("QUORVEL_MACHINE_DB", machine.c_str(), 1);
    qvl_settings_data second;
    app::load_settings_with_defaults(second);
    EXPECT_EQ(second.text(text_setting::parcel_box_directory_root), second_home.path() + "/PBoxes");
    EXPECT_EQ(read_text_setting(second.user_key(), names::parcel_box_directory_root), second_home.path() + "/PBoxes");
    EXPECT_EQ(second.number(number_setting::user_key_types), 0x200U);
}

TEST_F(IdentityService, DamagedMachineSettingsAreReportedAndNeverRewriteTheUsersSettings) {
    const std::string machine = m_oHome.path() + "/machine.db";
    std::ofstream(machine) << "not a settings database at all, only text standing in the way";
    {
        reg::key user = open_version_key(reg::root::user);
        ASSERT_TRUE(write_text_setting(user, names::parcel_box_directory_root, "/srv/parcels"));
        ASSERT_TRUE(write_dword_setting(user, names::enabled_sk_caps, 0x40));
    }
    qvl_settings_data settings;
    const std::optional<std::string> notice = settings.machine_settings_notice();
    ASSERT_TRUE(notice.has_value());
    EXPECT_NE(notice->find(machine + " cannot be used (it is damaged or not a settings file)"), std::string::npos)
        << *notice;
    app::load_settings_with_defaults(settings);
    EXPECT_EQ(read_text_setting(settings.user_key(), names::parcel_box_directory_root), "/srv/parcels");
    EXPECT_EQ(read_dword_setting(settings.user_key(), names::enabled_sk_caps), 0x40U);
}

TEST_F(IdentityService, FirstRunNoticeIsDueOncePerUser) {
    reg::key root;
    ASSERT_EQ(reg::open_root(reg::root::user, root), reg::success);
    reg::key program;
    ASSERT_EQ(reg::create_key(root, "Software\\Velmora\\Quorvel", program), reg::success);
    ASSERT_TRUE(write_text_setting(program, names::first_run, "1")) << "a text does not count";
    EXPECT_TRUE(app::claim_first_run_notice());
    EXPECT_FALSE(app::claim_first_run_notice());
    EXPECT_EQ(read_dword_setting(program, names::first_run), 1U);
    ASSERT_TRUE(write_dword_setting(program, names::first_run, 0));
    EXPECT_TRUE(app::claim_first_run_notice());
}

TEST(ListeningHost, IsTheDottedAddressBeforeAnyName) {
    EXPECT_EQ(app::listening_host("127.0.0.1  [local loopback]"), "127.0.0.1");
    EXPECT_EQ(app::listening_host("10.0.0.2"), "10.0.0.2");
}

} // namespace
} // namespace tiv
