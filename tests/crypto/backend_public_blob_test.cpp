#include <memory>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/core_names.h>

#include "crypto/backend_test_support.h"
#include "platform/crypto_backend/crypto_backend_blob_format.h"
#include "platform/crypto_backend/crypto_backend_public_blob.h"

namespace tiv::cryptoapi {
namespace {

const rsa_key& pair_1024() {
    return test::shared_rsa_1024();
}

std::vector<std::uint8_t> export_keyx(const rsa_key& key) {
    std::vector<std::uint8_t> blob;
    const outcome exported = export_public_key_blob(key, calg_rsa_keyx, blob);
    EXPECT_TRUE(exported) << exported.text();
    return blob;
}

// Imports from a heap copy of exactly the given length, so a read past it shows under AddressSanitizer.
outcome import_exact(const std::vector<std::uint8_t>& bytes, std::size_t length, rsa_key& out) {
    const std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[length]);
    std::copy(bytes.begin(), bytes.begin() + std::ptrdiff_t(length), copy.get());
    return import_public_key_blob({copy.get(), length}, out);
}

TEST(BackendPublicBlob, Layout1024) {
    const std::vector<std::uint8_t> blob = export_keyx(pair_1024());
    ASSERT_EQ(blob.size(), 148u);
    const std::vector<std::uint8_t> header = test::from_hex("0602000000a400005253413100040000"
                                                            "01000100");
    EXPECT_EQ(std::vector<std::uint8_t>(blob.begin(), blob.begin() + 20), header);
    // The modulus is least significant byte first: odd first byte, top bit set in the last.
    EXPECT_EQ(blob[20] & 1, 1);
    EXPECT_GE(blob.back(), 0x80);

    BIGNUM* raw = nullptr;
    ASSERT_EQ(EVP_PKEY_get_bn_param(pair_1024().get(), OSSL_PKEY_PARAM_RSA_N, &raw), 1);
    const bignum_ptr modulus(raw);
    std::vector<std::uint8_t> big_endian(128);
    ASSERT_EQ(BN_bn2binpad(modulus.get(), big_endian.data(), 128), 128);
    EXPECT_TRUE(std::equal(big_endian.rbegin(), big_endian.rend(), blob.begin() + 20));

    std::vector<std::uint8_t> signature;
    ASSERT_TRUE(export_public_key_blob(pair_1024(), calg_rsa_sign, signature));
    EXPECT_EQ(signature[5], 0x24);
    EXPECT_FALSE(export_public_key_blob(pair_1024(), 0x6610, signature));
    EXPECT_FALSE(export_public_key_blob(rsa_key(), calg_rsa_keyx, signature));
}

TEST(BackendPublicBlob, RoundTripGivesTheSameKey) {
    const std::vector<std::uint8_t> blob = export_keyx(pair_1024());
    rsa_key imported;
    std::uint32_t alg = 0;
    ASSERT_TRUE(import_public_key_blob(blob, imported, &alg));
    EXPECT_EQ(alg, calg_rsa_keyx);
    EXPECT_TRUE(imported.same_public_key(pair_1024()));
    EXPECT_FALSE(imported.same_public_key(test::shared_rsa_1024(1)));
    EXPECT_FALSE(imported.has_private());
    EXPECT_EQ(imported.bits(), 1024u);
    // An imported key exports byte for byte as it came.
    EXPECT_EQ(export_keyx(imported), blob);

    std::vector<std::uint8_t> signature;
    ASSERT_TRUE(export_public_key_blob(pair_1024(), calg_rsa_sign, signature));
    ASSERT_TRUE(import_public_key_blob(signature, imported, &alg));
    EXPECT_EQ(alg, calg_rsa_sign);
}

TEST(BackendPublicBlob, EveryCutIsRefusedWithoutReadingPastIt) {
    const std::vector<std::uint8_t> blob = export_keyx(pair_1024());
    for (std::size_t length = 0; length < blob.size(); ++length) {
        rsa_key out;
        EXPECT_FALSE(import_exact(blob, length, out)) << "length " << length;
        EXPECT_FALSE(out);
    }
    std::vector<std::uint8_t> longer = blob;
    longer.push_back(0);
    rsa_key out;
    EXPECT_EQ(import_public_key_blob(longer, out).code(), bad_len);
}

TEST(BackendPublicBlob, MalformedFieldsAreRefused) {
    const std::vector<std::uint8_t> good = export_keyx(pair_1024());
    struct change {
        const char* what;
        std::size_t offset;
        std::uint8_t value;
        error_code expected;
    };
    const change changes[] = {
        {"blob type PRIVATEKEYBLOB", 0, 7, bad_type},
        {"blob type SIMPLEBLOB", 0, 1, bad_type},
        {"version 3", 1, 3, bad_data},
        {"reserved low", 2, 1, bad_data},
        {"reserved high", 3, 1, bad_data},
        {"algorithm AES", 5, 0x66, bad_algid},
        {"magic RSA2", 11, 0x32, bad_data},
        {"bit length not a multiple of 8", 12, 4, bad_data},
        {"bit length 2048 for a 1024-bit body", 13, 8, bad_len},
        {"bit length beyond 16384", 14, 1, bad_data},
        {"even exponent", 16, 0, bad_data},
        {"even modulus", 20, std::uint8_t(good[20] - 1), bad_data},
        {"short modulus", 147, 0, bad_data},
    };
    for (const change& c : changes) {
        std::vector<std::uint8_t> blob = good;
        blob[c.offset] = c.value;
        rsa_key out;
        const outcome result = import_public_key_blob(blob, out);
        EXPECT_EQ(result.code(), c.expected) << c.what << ": " << result.text();
        EXPECT_FALSE(out) << c.what;
    }
    // An exponent of 1 is odd but no RSA key.
    std::vector<std::uint8_t> blob = good;
    blob[16] = 1;
    blob[18] = 0;
    rsa_key out;
    EXPECT_FALSE(import_public_key_blob(blob, out));
}

TEST(BackendPublicBlob, ExponentBeyond32BitsCannotBeExported) {
    BIGNUM* raw = nullptr;
    ASSERT_EQ(EVP_PKEY_get_bn_param(pair_1024().get(), OSSL_PKEY_PARAM_RSA_N, &raw), 1);
    const bignum_ptr modulus(raw);
    const bignum_ptr exponent(BN_new());
    ASSERT_TRUE(exponent);
    ASSERT_EQ(BN_set_word(exponent.get(), (std::uint64_t(1) << 32) + 15), 1);
    const param_bld_ptr builder(OSSL_PARAM_BLD_new());
    ASSERT_EQ(OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, modulus.get()), 1);
    ASSERT_EQ(OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, exponent.get()), 1);
    const param_ptr params(OSSL_PARAM_BLD_to_param(builder.get()));
    const pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* made = nullptr;
    ASSERT_EQ(EVP_PKEY_fromdata_init(ctx.get()), 1);
    ASSERT_EQ(EVP_PKEY_fromdata(ctx.get(), &made, EVP_PKEY_PUBLIC_KEY, params.get()), 1);
    const rsa_key wide{pkey_ptr(made)};
    std::vector<std::uint8_t> blob;
    EXPECT_EQ(export_public_key_blob(wide, calg_rsa_keyx, blob).code(), bad_key);
    EXPECT_TRUE(blob.empty());
}

TEST(BackendPublicBlob, SizesFollowTheBitLength) {
    rsa_key small;
    ASSERT_TRUE(rsa_key::generate(512, small));
    EXPECT_EQ(export_keyx(small).size(), 84u);
    EXPECT_FALSE(rsa_key::generate(1020, small));
    EXPECT_FALSE(rsa_key::generate(256, small));
}

} // namespace
} // namespace tiv::cryptoapi
