#include <gtest/gtest.h>

#include "app/internal/settings/first_run.h"
#include "core/text.h"
#include "platform/uuid.h"
#include "settings/identity.h"
#include "settings/qvl_settings_data.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

class Identity : public test::home_test {};

TEST_F(Identity, FirstRunWritesEveryMachineAndUserDefault) {
    qvl_settings_data settings;
    set_machine_defaults(settings);
    set_user_defaults(settings);
    settings.load_settings();
    EXPECT_EQ(settings.number(number_setting::listening_port), 20000U);
    EXPECT_EQ(settings.number(number_setting::machine_key_types), 0xE40U);
    EXPECT_EQ(settings.number(number_setting::user_key_types), 0xE40U);
    EXPECT_EQ(settings.number(number_setting::provider_key_types), 0xE40U);
    EXPECT_EQ(settings.text(text_setting::current_csp), names::default_provider_name);
    EXPECT_FALSE(settings.text(text_setting::interface_ip_address).empty());
    EXPECT_EQ(settings.text(text_setting::parcel_box_directory_root), m_oHome.path() + "/PBoxes");
    EXPECT_EQ(read_dword_setting(settings.user_key(), names::kept_part_days), 7U);
    EXPECT_EQ(settings.number(number_setting::kept_part_days), 7U);
    EXPECT_EQ(settings.text(text_setting::user_name), login_name());
    EXPECT_TRUE(uuid_from_text(settings.text(text_setting::user_uuid)).has_value());
    EXPECT_FALSE(read_setting_value(settings.machine_key(), names::io_block_size).has_value());
}

TEST_F(Identity, RepeatedFirstRunKeepsTheUuidButResetsTheName) {
    qvl_settings_data settings;
    set_machine_defaults(settings);
    set_user_defaults(settings);
    const auto uuid = read_text_setting(settings.user_key(), names::user_uuid);
    ASSERT_TRUE(write_text_setting(settings.user_key(), names::user_name, "Chosen Name"));
    set_user_defaults(settings);
    EXPECT_EQ(read_text_setting(settings.user_key(), names::user_uuid), uuid);
    EXPECT_EQ(read_text_setting(settings.user_key(), names::user_name), login_name());
}

TEST_F(Identity, SecondUserSharesTheMachineHiveButGetsOwnIdentity) {
    const std::string machine_db = m_oHome.path() + "/shared-machine.db";
    ::setenv("QUORVEL_MACHINE_DB", machine_db.c_str(), 1);
    std::string first_uuid;
    {
        qvl_settings_data first;
        set_machine_defaults(first);
        ASSERT_TRUE(write_dword_setting(first.machine_key(), names::enabled_sk_caps, 0x240));
        set_user_defaults(first);
        first_uuid = read_text_setting(first.user_key(), names::user_uuid).value_or("");
    }
    test::temp_home second_home;
    ::setenv("QUORVEL_MACHINE_DB", machine_db.c_str(), 1);
    qvl_settings_data second;
    set_user_defaults(second);
    second.load_settings();
    EXPECT_EQ(second.number(number_setting::user_key_types), 0x240U) << "a new user starts with the machine's types";
    EXPECT_EQ(second.number(number_setting::listening_port), 20000U) << "machine values come from the shared hive";
    EXPECT_FALSE(second.text(text_setting::user_uuid).empty());
    EXPECT_NE(second.text(text_setting::user_uuid), first_uuid);
}

TEST(Uuid, TextsAreOwnedAndDistinct) {
    const std::string first = create_uuid_text();
    const std::string second = create_uuid_text();
    EXPECT_EQ(first.size(), 36U);
    EXPECT_NE(first, second) << "each call returns a value of its own";
    EXPECT_EQ(first, to_lower_ascii(first));
}

TEST(Uuid, GuidLayoutMatchesTheWireForm) {
    const auto id = uuid_from_text("00112233-4455-6677-8899-AABBCCDDEEFF");
    ASSERT_TRUE(id.has_value());
    const std::array<std::uint8_t, 16> expected = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                                   0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    EXPECT_EQ(uuid_to_guid_bytes(*id), expected);
    EXPECT_EQ(uuid_from_guid_bytes(expected.data()), *id);
    EXPECT_FALSE(uuid_from_text("00112233-4455-6677-8899-AABBCCDDEEF").has_value());
    EXPECT_FALSE(uuid_from_text("00112233-4455-6677-8899-AABBCCDDEEFG").has_value());
}

} // namespace
} // namespace tiv
