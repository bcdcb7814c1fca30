#include <filesystem>
#include <gtest/gtest.h>

#include "app/internal/provider_report.h"
#include "crypto/key_management.h"
#include "support/scripted_questions.h"
#include "support/temp_home.h"
#include "support/test_identity.h"

namespace tiv {
namespace {

TEST(KeyManagement, StrengthFormulaMatchesTheTable) {
    const std::pair<unsigned, unsigned> table[] = {{1024, 81},  {2048, 109}, {3072, 130}, {4096, 146},
                                                   {5120, 161}, {8192, 197}, {16384, 264}};
    for (const auto& [bits, strength] : table) {
        EXPECT_EQ(estimated_strength(bits), strength) << bits;
    }
}

TEST(KeyManagement, WarningsDependOnTheLength) {
    EXPECT_EQ(rekey_warnings(2048).size(), 1U);
    EXPECT_EQ(rekey_warnings(4096).size(), 1U);
    ASSERT_EQ(rekey_warnings(1792).size(), 2U);
    EXPECT_EQ(rekey_warnings(1792)[1].caption, "WHOA! Hold on there....");
    ASSERT_EQ(rekey_warnings(4352).size(), 2U);
    EXPECT_EQ(rekey_warnings(4352)[1].caption, "This could take some time!");
    EXPECT_TRUE(is_valid_user_key_length(1024));
    EXPECT_FALSE(is_valid_user_key_length(1280 + 8));
    EXPECT_FALSE(is_valid_user_key_length(16640));
}

TEST(KeyManagement, ReplacingKeysReportsWhatWasMadeAndKeepsOldPairsOnFailure) {
    test::test_identity alice("Alice");
    const rsa_key_ptr old_exchange = alice.provider().exchange_key();
    const rsa_key_ptr old_signature = alice.provider().signature_key();
    const rekey_outcome refused = replace_user_keys(alice.provider(), 1000);
    EXPECT_FALSE(refused.signature_made());
    EXPECT_EQ(refused.signature_message,
              "Signature Key of 1000 bits could not be made (error 0x80090009); the old pair stays in place.");
    EXPECT_EQ(alice.provider().signature_key(), old_signature) << "a failed generation keeps the old pair";
    EXPECT_EQ(refused.exchange_bits, 3072U) << "the exchange pair falls back to 3072 bits, and says so";
    EXPECT_EQ(refused.exchange_message.rfind("Key Exchange Key of 3072 bits required ", 0), 0U);
    EXPECT_NE(old_exchange, alice.provider().exchange_key());
    EXPECT_TRUE(alice.provider().ready);
}

TEST(ProviderState, OpeningMakesNothingAndMissingPairsAreMadeOnlyWhenAsked) {
    test::scripted_questions questions;
    test::temp_home home;
    {
        crypto_provider first(home.path() + "/keys"); // the first run's 3072-bit pairs
        first.open(0xE40);
        EXPECT_TRUE(first.take_open_failure().ok()) << "a container not made yet is no unexpected error";
        EXPECT_FALSE(first.ready);
        EXPECT_FALSE(first.container_created);
        EXPECT_FALSE(std::filesystem::exists(home.path() + "/keys")) << "opening alone creates nothing";
        EXPECT_TRUE(first.make_missing_pairs());
        EXPECT_TRUE(first.ready);
        EXPECT_TRUE(first.container_created);
        EXPECT_TRUE(first.exchange_key_created);
        EXPECT_TRUE(first.signature_key_created);
        EXPECT_TRUE(report_provider_state(first, questions));
        EXPECT_FALSE(first.generate_session_key(0x001).ok()) << "a type outside the policy";
        EXPECT_TRUE(first.generate_session_key(0x200).ok());
    }
    crypto_provider second(home.path() + "/keys");
    second.open(0xE40);
    EXPECT_TRUE(second.ready);
    EXPECT_FALSE(second.container_created);
    EXPECT_FALSE(second.exchange_key_created);
    EXPECT_TRUE(questions.questions_asked().empty());
    std::string text;
    EXPECT_EQ(second.exchange_key_text(32, text), 3072U);
    EXPECT_EQ(text.size(), 2U * 404U + 2U * 12U) << "64 digits per line, CR LF between lines";
    EXPECT_EQ(second.signature_key()->bits(), 3072U);
}

} // namespace
} // namespace tiv
