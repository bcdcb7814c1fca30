#include <gtest/gtest.h>
#include <sys/stat.h>

#include "settings/qvl_settings_data.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

class SettingsStore : public test::home_test {};

TEST_F(SettingsStore, LoadOfANewMachineGivesTheMissingValueResults) {
    qvl_settings_data settings;
    ASSERT_TRUE(settings.machine_key());
    ASSERT_TRUE(settings.user_key());
    ASSERT_TRUE(settings.profile_list_key());
    settings.set_text(text_setting::parcel_box_directory_root, "/kept");
    settings.set_text(text_setting::user_name, "stale");
    settings.load_settings();
    EXPECT_EQ(settings.text(text_setting::parcel_box_directory_root), "/kept") << "left unchanged when missing";
    EXPECT_EQ(settings.text(text_setting::user_name), "") << "emptied when missing";
    EXPECT_EQ(settings.number(number_setting::listening_port), 0U);
    EXPECT_EQ(settings.number(number_setting::io_block_size), 0U);
    EXPECT_EQ(settings.number(number_setting::machine_key_types), 0U);
    EXPECT_FALSE(settings.has_text(text_setting::external_name));
}

TEST_F(SettingsStore, PortOutsideOneTo65535ReadsAsMissingAndTheBlockSizeIsBounded) {
    qvl_settings_data settings;
    for (const auto& [stored, read] : {std::pair{70000U, 0U}, {65536U, 0U}, {65535U, 65535U}, {1U, 1U}}) {
        ASSERT_TRUE(write_dword_setting(settings.machine_key(), names::interface_ip_port, stored));
        settings.load_settings();
        EXPECT_EQ(settings.number(number_setting::listening_port), read) << stored;
    }
    for (const auto& [stored, read] :
         {std::pair{0U, 512U}, {511U, 512U}, {8192U, 8192U}, {1048576U, 1048576U}, {1U << 30, 1048576U}}) {
        ASSERT_TRUE(write_dword_setting(settings.machine_key(), names::io_block_size, stored));
        settings.load_settings();
        EXPECT_EQ(settings.number(number_setting::io_block_size), read) << stored;
    }
}

TEST_F(SettingsStore, ValuesOfTheWrongTypeCountAsMissing) {
    qvl_settings_data settings;
    ASSERT_TRUE(write_text_setting(settings.machine_key(), names::interface_ip_port, "20000"));
    ASSERT_TRUE(write_dword_setting(settings.user_key(), names::user_name, 0x41414141));
    ASSERT_TRUE(write_text_setting(settings.machine_key(), names::current_csp, "provider"));
    settings.load_settings();
    EXPECT_EQ(settings.number(number_setting::listening_port), 0U);
    EXPECT_EQ(settings.text(text_setting::user_name), "");
    EXPECT_EQ(settings.text(text_setting::current_csp), "provider");
    EXPECT_FALSE(read_binary_setting(settings.machine_key(), names::current_csp).has_value());
}

TEST_F(SettingsStore, TextWithoutItsNulAndTheSizeLimit) {
    qvl_settings_data settings;
    const char raw[] = {'a', 'b', 'c'};
    ASSERT_EQ(reg::set_value(settings.user_key(), names::user_name, reg::REG_SZ, raw, 3), reg::success);
    EXPECT_EQ(read_text_setting(settings.user_key(), names::user_name), "abc");

    const std::string largest(max_setting_bytes, 'x');
    ASSERT_EQ(reg::set_value(settings.user_key(), "Big", reg::REG_SZ, largest.data(), max_setting_bytes), reg::success);
    auto read = read_setting_value(settings.user_key(), "Big");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->size, max_setting_bytes);
    EXPECT_EQ(read->text(), largest);

    const std::string too_large(max_setting_bytes + 1, 'y');
    ASSERT_EQ(reg::set_value(settings.user_key(), "TooBig", reg::REG_SZ, too_large.data(), max_setting_bytes + 1),
              reg::success);
    EXPECT_FALSE(read_setting_value(settings.user_key(), "TooBig").has_value());
}

TEST_F(SettingsStore, ReadsFromThreadsDoNotShareAResult) {
    qvl_settings_data settings;
    ASSERT_TRUE(write_text_setting(settings.user_key(), "A", std::string(100, 'a')));
    ASSERT_TRUE(write_text_setting(settings.user_key(), "B", std::string(200, 'b')));
    auto first = read_setting_value(settings.user_key(), "A");
    auto second = read_setting_value(settings.user_key(), "B");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->text(), std::string(100, 'a')) << "a later read must not overwrite an earlier result";
}

TEST_F(SettingsStore, SecondObjectSeesWhatTheFirstWrote) {
    {
        qvl_settings_data settings;
        ASSERT_TRUE(write_text_setting(settings.user_key(), names::user_uuid, "kept"));
    }
    qvl_settings_data reopened;
    reopened.load_settings();
    EXPECT_EQ(reopened.text(text_setting::user_uuid), "kept");
}

TEST(DirectoryPath, SplittingFollowsTheSeparatorRules) {
    using levels = std::vector<std::string>;
    EXPECT_EQ(directory_levels("/data/boxes"), (levels{"/data", "/data/boxes"}));
    EXPECT_EQ(directory_levels("boxes\\in"), (levels{"boxes", "boxes/in"}));
    EXPECT_EQ(directory_levels("/a/"), (levels{"/a/"})) << "a trailing separator stays with the last level";
    EXPECT_EQ(directory_levels("/a//b"), (levels{"/a", "/a//b"})) << "a doubled separator starts a level";
    EXPECT_TRUE(directory_levels("/").empty());
    EXPECT_TRUE(directory_levels("").empty());
    EXPECT_TRUE(directory_levels("/" + std::string(1023, 'x')).empty());
    EXPECT_EQ(directory_levels(std::string(1023, 'x')).size(), 1U);
}

TEST(DirectoryPath, CreatesEveryLevel) {
    test::temp_home home;
    const std::string target = home.path() + "/one/two\\three";
    ASSERT_TRUE(create_directory_path(target));
    struct stat info {};
    EXPECT_EQ(::stat((home.path() + "/one/two/three").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_TRUE(create_directory_path(target)) << "existing levels are passed over";
    EXPECT_FALSE(create_directory_path(""));
}

} // namespace
} // namespace tiv
