#include <filesystem>
#include <gtest/gtest.h>

#include "app/internal/key_service.h"
#include "crypto/fingerprint.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"

namespace tiv {
namespace {

std::string recorded_fingerprints(const qvl_settings_data& settings) {
    return read_text_setting(settings.user_key(), "KeyFingerprints").value_or("");
}

TEST(KeyService, RekeyReportsTheOutcomeRecordsItAndNeedsAnOpenContainer) {
    test::test_identity alice("Alice");
    const rsa_key_ptr old_exchange = alice.provider().exchange_key();
    const app::rekey_report made = app::rekey(alice.settings(), alice.provider(), 1280);
    ASSERT_TRUE(made.outcome.ok()) << made.outcome.text();
    EXPECT_EQ(made.signature_bits, 1280U);
    EXPECT_EQ(made.exchange_bits, 1280U);
    EXPECT_EQ(made.exchange_message.rfind("Key Exchange Key of 1280 bits required ", 0), 0U);
    EXPECT_NE(alice.provider().exchange_key(), old_exchange);
    EXPECT_EQ(app::exchange_key_text(alice.provider(), 0).bits, 1280U);
    EXPECT_NE(recorded_fingerprints(alice.settings()).find(key_fingerprint(alice.provider().exchange_key_blob())),
              std::string::npos);

    alice.provider().close();
    const app::rekey_report closed = app::rekey(alice.settings(), alice.provider(), 1024);
    EXPECT_EQ(closed.outcome.text(), "the key container cannot be opened, so no keys were replaced.");
    EXPECT_TRUE(closed.signature_message.empty()) << "nothing was tried";
}

TEST(KeyService, OpeningNeverMakesKeysAndAFirstRunMakesThemOnce) {
    test::temp_home home;
    qvl_settings_data settings;
    crypto_provider provider(home.path() + "/keys", 1024);
    const app::status none = app::open_user_keys(settings, provider);
    EXPECT_EQ(none.code(), app::status_code::keys_unavailable);
    EXPECT_EQ(none.text(), "this user has no keys yet (the key container " + home.path() +
                               "/keys/Velmora%5CQuorvel does not exist); run `quorvel-cli init` to make them.");
    EXPECT_FALSE(std::filesystem::exists(home.path() + "/keys"));

    ASSERT_TRUE(app::make_first_keys(settings, provider, 1024).ok());
    const std::vector<std::uint8_t> first = provider.exchange_key_blob();
    EXPECT_FALSE(recorded_fingerprints(settings).empty());
    ASSERT_TRUE(app::make_first_keys(settings, provider, 1024).ok());
    EXPECT_EQ(provider.exchange_key_blob(), first) << "a repeated init keeps the keys it finds";
}

// A key file that is gone, or that others can read, stops every reader and init with the file and the way out;
// only rekey replaces it.
TEST(KeyService, ALostOrExposedKeyFileIsReportedUntilRekeyReplacesIt) {
    test::test_identity alice("Alice");
    const std::string container = alice.home() + "/keys/Velmora%5CQuorvel";
    ASSERT_TRUE(std::filesystem::remove(container + "/exchange.pem"));
    for (const app::status& lost : {app::open_user_keys(alice.settings(), alice.provider()),
                                    app::make_first_keys(alice.settings(), alice.provider(), 1024)}) {
        EXPECT_EQ(lost.code(), app::status_code::keys_unavailable);
        EXPECT_TRUE(lost.text().starts_with("the key file " + container +
                                            "/exchange.pem is missing, although this "
                                            "user's keys were made before"))
            << lost.text();
        EXPECT_NE(lost.text().find("`quorvel-cli rekey`"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(container + "/exchange.pem")) << "a lost key is never silently replaced";

    std::filesystem::permissions(container + "/signature.pem", std::filesystem::perms::group_read,
                                 std::filesystem::perm_options::add);
    ASSERT_TRUE(app::open_keys_for_rekey(alice.settings(), alice.provider()).ok());
    ASSERT_TRUE(app::rekey(alice.settings(), alice.provider(), 1024).outcome.ok());
    EXPECT_TRUE(app::open_user_keys(alice.settings(), alice.provider()).ok());

    std::filesystem::permissions(container + "/signature.pem", std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
    const app::status exposed = app::open_user_keys(alice.settings(), alice.provider());
    EXPECT_NE(exposed.text().find(container + "/signature.pem is open to group or others"), std::string::npos)
        << exposed.text();
    EXPECT_NE(exposed.text().find("`quorvel-cli rekey`"), std::string::npos);
}

TEST(KeyService, KeysBroughtBackFromAnOldBackupAreToldApartFromTheNewest) {
    test::test_identity alice("Alice");
    EXPECT_FALSE(app::keys_unlike_record(alice.settings(), alice.provider()).has_value());
    const std::string newest = recorded_fingerprints(alice.settings());
    ASSERT_TRUE(write_text_setting(alice.settings().user_key(), "KeyFingerprints", "SKEY 00; AKEY 11"));
    const std::optional<std::string> notice = app::keys_unlike_record(alice.settings(), alice.provider());
    ASSERT_TRUE(notice.has_value());
    EXPECT_NE(notice->find("made: SKEY 00; AKEY 11; found: " + newest), std::string::npos) << *notice;
}

TEST(KeyService, KeyTypePolicyIsStoredAndAppliesAtOnce) {
    test::test_identity alice("Alice");
    ASSERT_TRUE(app::set_key_type_policy(alice.settings(), alice.provider(), 0x201).ok());
    EXPECT_EQ(alice.provider().allowed_key_types, 0x201U & crypto_provider::available_key_types());
    EXPECT_FALSE(alice.provider().generate_session_key(0x800).ok()) << "AES 256 is no longer allowed";
    EXPECT_TRUE(alice.provider().generate_session_key(0x200).ok());
    qvl_settings_data& settings = alice.settings();
    settings.load_settings();
    EXPECT_EQ(settings.number(number_setting::machine_key_types), 0x201U);
}

} // namespace
} // namespace tiv
