#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/crypto_backend/crypto_backend_session_key.h"
#include "platform/crypto_backend/openssl_util_providers.h"

namespace tiv::cryptoapi {
namespace {

TEST(BackendProviders, BothProvidersServeTheirCiphers) {
    const provider_report& report = load_providers();
    EXPECT_TRUE(report.default_loaded);
    EXPECT_TRUE(report.legacy_loaded) << report.error;
    // Loading legacy by hand must not have cost us the default provider's AES and triple DES.
    for (const session_cipher_params& params : session_cipher_table()) {
        std::string why;
        EXPECT_TRUE(session_cipher_available(params, &why)) << params.openssl_name << ": " << why;
    }
    EXPECT_EQ(&load_providers(), &report);
}

// In a fresh process whose OpenSSL finds no legacy module: RC2, RC4 and DES are reported unavailable and
// refused, AES and triple DES still work.
TEST(BackendProvidersDeathTest, WithoutLegacyOnlyTheDefaultCiphersRemain) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::setenv("OPENSSL_MODULES", "/nonexistent/quorvel-modules", 1);
            const provider_report& report = load_providers();
            bool as_expected = report.default_loaded && !report.legacy_loaded && !report.error.empty();
            for (const session_cipher_params& params : session_cipher_table()) {
                std::string why;
                const bool available = session_cipher_available(params, &why);
                as_expected = as_expected && available == !params.needs_legacy && available == why.empty();
            }
            session_key key;
            as_expected = as_expected && session_key::generate(calg_rc4, 128, key).code() == bad_algid &&
                          session_key::generate(calg_aes_256, 256, key);
            std::_Exit(as_expected ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace tiv::cryptoapi
