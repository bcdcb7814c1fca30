#include <algorithm>
#include <gtest/gtest.h>

#include "core/text.h"
#include "platform/uuid.h"
#include "settings/friend_profile.h"
#include "settings/qvl_settings_data.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

// A PUBLICKEYBLOB-shaped key of `bits` bits: the bit length sits at byte offset 12.
std::vector<std::uint8_t> fake_key_blob(std::uint32_t bits) {
    std::vector<std::uint8_t> blob(20 + bits / 8, 0xA5);
    const std::uint8_t header[] = {6, 2, 0, 0, 0, 0xA4, 0, 0, 'R', 'S', 'A', '1'};
    std::copy(std::begin(header), std::end(header), blob.begin());
    for (int i = 0; i < 4; ++i) {
        blob[12 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    return blob;
}

friend_profile make_profile(const std::string& name, const std::string& uuid, std::uint32_t bits = 1024) {
    friend_profile record;
    copy_text_field(record.name, name);
    copy_text_field(record.uuid, uuid);
    copy_text_field(record.receipt_directory, compact_name(name));
    copy_text_field(record.address, "127.0.0.1");
    record.port = 20000;
    record.receipt_enabled = 1;
    record.max_file_size = unlimited;
    record.max_file_count = 100;
    record.encryption_methods = 0xE40;
    const auto blob = fake_key_blob(bits);
    record.key.Assign(blob.data(), static_cast<std::int32_t>(blob.size()));
    record.key_bytes = static_cast<std::int32_t>(blob.size());
    record.key_bits = static_cast<std::int32_t>(bits);
    return record;
}

class FriendProfiles : public test::home_test {
protected:
    qvl_settings_data m_oSettings;
};

TEST_F(FriendProfiles, SaveAndReadRoundTripEveryField) {
    const std::string uuid = uuid_to_text(make_uuid());
    ASSERT_TRUE(save_profile(m_oSettings, make_profile("Bob Smith", uuid)));
    friend_profile read;
    ASSERT_TRUE(read_profile(m_oSettings, "bob smith", read)) << "profile names compare case-insensitively";
    EXPECT_STREQ(read.name, "Bob Smith");
    EXPECT_STREQ(read.uuid, uuid.c_str());
    EXPECT_STREQ(read.receipt_directory, "BobSmith");
    EXPECT_STREQ(read.address, "127.0.0.1");
    EXPECT_EQ(read.port, 20000);
    EXPECT_EQ(read.receipt_enabled, 1);
    EXPECT_EQ(read.max_file_size, unlimited);
    EXPECT_EQ(read.max_file_count, 100U);
    EXPECT_EQ(read.encryption_methods, 0xE40U);
    EXPECT_EQ(read.key_bits, 1024);
    EXPECT_EQ(read.key_bytes, 148);
    ASSERT_EQ(read.key.size, 148);
    EXPECT_EQ(read.key.data[12], 0x00);
    EXPECT_EQ(read.key.data[13], 0x04);
    EXPECT_EQ(m_oSettings.profile_key_mismatch, 0);
}

TEST_F(FriendProfiles, MissingProfileLeavesTheRecordUntouched) {
    friend_profile record = make_profile("Keep", "x");
    EXPECT_FALSE(read_profile(m_oSettings, "Nobody", record));
    EXPECT_STREQ(record.name, "Keep");
    EXPECT_TRUE(list_profiles(m_oSettings).empty());
    EXPECT_FALSE(find_profile_by_uuid(m_oSettings, make_uuid(), record));
}

TEST_F(FriendProfiles, KeyConsistencyTest) {
    ASSERT_TRUE(save_profile(m_oSettings, make_profile("Bytes", uuid_to_text(make_uuid()))));
    reg::key bytes_key;
    ASSERT_EQ(reg::open_key(m_oSettings.profile_list_key(), "Bytes", bytes_key), reg::success);
    ASSERT_TRUE(write_dword_setting(bytes_key, names::public_key_bytes, 140));
    friend_profile record;
    EXPECT_FALSE(read_profile(m_oSettings, "Bytes", record));
    EXPECT_EQ(m_oSettings.profile_key_mismatch, 1);
    EXPECT_STREQ(record.name, "Bytes") << "the record is filled all the same";

    ASSERT_TRUE(save_profile(m_oSettings, make_profile("Bits", uuid_to_text(make_uuid()), 2048)));
    reg::key bits_key;
    ASSERT_EQ(reg::open_key(m_oSettings.profile_list_key(), "Bits", bits_key), reg::success);
    ASSERT_TRUE(write_dword_setting(bits_key, names::public_key_bits, 1024));
    EXPECT_FALSE(read_profile(m_oSettings, "Bits", record));

    friend_profile keyless = make_profile("Keyless", uuid_to_text(make_uuid()));
    keyless.key.Delete();
    keyless.key_bytes = 0;
    keyless.key_bits = 0;
    ASSERT_TRUE(save_profile(m_oSettings, keyless));
    EXPECT_TRUE(read_profile(m_oSettings, "Keyless", record)) << "no key and no claims is consistent";
    EXPECT_EQ(record.key_bytes, 0);

    keyless.key_bits = 1024; // a claim with no blob to take the bit length from
    ASSERT_TRUE(save_profile(m_oSettings, keyless));
    EXPECT_FALSE(read_profile(m_oSettings, "Keyless", record));
}

TEST_F(FriendProfiles, ByteCountBeyondTheKeyBufferIsRefused) {
    friend_profile record = make_profile("Overrun", uuid_to_text(make_uuid()));
    record.key_bytes = record.key.size + 100;
    EXPECT_FALSE(save_profile(m_oSettings, record));
}

TEST_F(FriendProfiles, LongTextsAreCutToTheirFields) {
    ASSERT_TRUE(save_profile(m_oSettings, make_profile("Long", uuid_to_text(make_uuid()))));
    reg::key profile;
    ASSERT_EQ(reg::open_key(m_oSettings.profile_list_key(), "Long", profile), reg::success);
    ASSERT_TRUE(write_text_setting(profile, names::ip_address, std::string(40, '9')));
    ASSERT_TRUE(write_text_setting(profile, names::receipt_directory, std::string(100, 'd')));
    friend_profile record;
    ASSERT_TRUE(read_profile(m_oSettings, "Long", record));
    EXPECT_EQ(std::string(record.address), std::string(31, '9'));
    EXPECT_EQ(std::string(record.receipt_directory), std::string(63, 'd'));
}

TEST_F(FriendProfiles, FindByUuidExaminesSeventyProfilesInEitherCase) {
    std::vector<std::string> uuids;
    for (int i = 0; i < 70; ++i) {
        uuids.push_back(uuid_to_text(make_uuid()));
        ASSERT_TRUE(save_profile(m_oSettings, make_profile("Friend " + std::to_string(i), uuids.back())));
    }
    EXPECT_EQ(list_profiles(m_oSettings).size(), 70U);

    // Stored in upper case, found by the 16-byte value.
    reg::key last;
    ASSERT_EQ(reg::open_key(m_oSettings.profile_list_key(), "Friend 69", last), reg::success);
    std::string upper = uuids[69];
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return static_cast<char>(toupper(c)); });
    ASSERT_TRUE(write_text_setting(last, names::profile_uuid, upper));

    friend_profile record;
    ASSERT_TRUE(find_profile_by_uuid(m_oSettings, *uuid_from_text(uuids[69]), record));
    EXPECT_STREQ(record.name, "Friend 69");
    ASSERT_TRUE(find_profile_by_uuid(m_oSettings, *uuid_from_text(uuids[3]), record));
    EXPECT_STREQ(record.name, "Friend 3");
    EXPECT_FALSE(find_profile_by_uuid(m_oSettings, make_uuid(), record));
}

TEST_F(FriendProfiles, DeleteAndOverlongNames) {
    ASSERT_TRUE(save_profile(m_oSettings, make_profile("Gone", uuid_to_text(make_uuid()))));
    EXPECT_TRUE(delete_profile(m_oSettings, "Gone"));
    EXPECT_FALSE(delete_profile(m_oSettings, "Gone"));
    friend_profile record;
    EXPECT_FALSE(read_profile(m_oSettings, "Gone", record));

    // A 64-character subkey name cannot be listed and ends the list at its position.
    reg::key long_name;
    ASSERT_EQ(reg::create_key(m_oSettings.profile_list_key(), std::string(64, 'M'), long_name), reg::success);
    ASSERT_TRUE(save_profile(m_oSettings, make_profile("Zed", uuid_to_text(make_uuid()))));
    ASSERT_TRUE(save_profile(m_oSettings, make_profile("Amy", uuid_to_text(make_uuid()))));
    EXPECT_EQ(list_profiles(m_oSettings), std::vector<std::string>{"Amy"});
}

} // namespace
} // namespace tiv
