#include <gtest/gtest.h>

#include "app/key_service.h"
#include "support/test_identity.h"

namespace tiv {
namespace {

TEST(KeyService, RekeyReportsTheOutcomeAndNeedsAnOpenContainer) {
    test::test_identity alice("Alice");
    const rsa_key_ptr old_exchange = alice.provider().exchange_key();
    const app::rekey_report made = app::rekey(alice.provider(), 1280);
    ASSERT_TRUE(made.outcome.ok()) << made.outcome.text();
    EXPECT_EQ(made.signature_bits, 1280U);
    EXPECT_EQ(made.exchange_bits, 1280U);
    EXPECT_EQ(made.exchange_message.rfind("Key Exchange Key of 1280 bits required ", 0), 0U);
    EXPECT_NE(alice.provider().exchange_key(), old_exchange);
    EXPECT_EQ(app::exchange_key_text(alice.provider(), 0).bits, 1280U);

    alice.provider().close();
    const app::rekey_report closed = app::rekey(alice.provider(), 1024);
    EXPECT_EQ(closed.outcome.text(), "the key container cannot be opened, so no keys were replaced.");
    EXPECT_TRUE(closed.signature_message.empty()) << "nothing was tried";
}

TEST(KeyService, KeyTypePolicyIsStoredAndAppliesAtOnce) {
    test::test_identity alice("Alice");
    ASSERT_TRUE(app::set_key_type_policy(alice.settings(), alice.provider(), 0x201).ok());
    EXPECT_EQ(alice.provider().allowed_key_types, 0x201U & crypto_provider::available_key_types());
    EXPECT_EQ(alice.provider().generate_session_key(0x800), nullptr) << "AES 256 is no longer allowed";
    EXPECT_NE(alice.provider().generate_session_key(0x200), nullptr);
    qvl_settings_data& settings = alice.settings();
    settings.load_settings();
    EXPECT_EQ(settings.number(number_setting::machine_key_types), 0x201U);
}

} // namespace
} // namespace tiv
