#include <gtest/gtest.h>

#include "app/internal/key_service.h"
#include "app/internal/profile_service.h"
#include "app/keys.h"
#include "core/regular_file.h"
#include "settings/profile_file.h"
#include "support/test_identity.h"

namespace tiv {
namespace {

// The longest key the program offers, made once and stored (tests/data/README), since making one takes minutes.
cryptoapi::rsa_key longest_offered_key() {
    const std::string path = std::string(QUORVEL_SOURCE_DIR) + "/tests/data/rsa16384.pem";
    std::string pem;
    EXPECT_EQ(read_regular_file(path, 64 * 1024, pem), file_read::ok) << path;
    cryptoapi::rsa_key key;
    EXPECT_TRUE(cryptoapi::rsa_key::from_private_pem(pem, key));
    return key;
}

TEST(LargeKeyProfile, TheLongestOfferedKeysSurviveExportAndImport) {
    test::test_identity alice("Alice");
    test::test_identity bob("Bob");
    const cryptoapi::rsa_key key = longest_offered_key();
    ASSERT_EQ(key.bits(), app::largest_key_bits);
    cryptoapi::key_container container;
    ASSERT_TRUE(cryptoapi::key_container::open_in(alice.provider().key_root(), crypto_provider::default_container_name,
                                                  container));
    for (const auto kind : {cryptoapi::key_pair_kind::exchange, cryptoapi::key_pair_kind::signature}) {
        ASSERT_TRUE(container.replace_key(kind, key));
    }
    ASSERT_TRUE(app::open_user_keys(alice.settings(), alice.provider()).ok());

    const auto exported = app::export_profile(alice.settings(), alice.provider(), alice.home() + "/alice");
    ASSERT_TRUE(exported.ok()) << exported.error().text();
    std::string text;
    ASSERT_EQ(read_regular_file(*exported, profile_file_limit, text), file_read::ok);
    const std::size_t akey = text.find("AKEY: ");
    ASSERT_NE(akey, std::string::npos);
    EXPECT_EQ(text.find("\r\n", akey) - akey, 4142U) << "the line a fixed 4,095-byte buffer once cut";

    const auto stored = app::import_profile(bob.settings(), *exported, {});
    ASSERT_TRUE(stored.ok()) << stored.error().text();
    const auto friend_alice = app::read_friend(bob.settings(), alice.settings().text(text_setting::user_name));
    ASSERT_TRUE(friend_alice.ok()) << friend_alice.error().text();
    EXPECT_EQ(friend_alice->key_bits, 16384);
    EXPECT_EQ(friend_alice->key_bytes, static_cast<std::int32_t>(friend_alice->key.size()));
    EXPECT_EQ(friend_alice->key, alice.provider().exchange_key_blob());
    EXPECT_EQ(friend_alice->signature_key, alice.provider().signature_key_blob());
}

} // namespace
} // namespace tiv
