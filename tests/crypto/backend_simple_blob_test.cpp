#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/rsa.h>

#include "crypto/backend_test_support.h"
#include "platform/crypto_backend/crypto_backend_blob_format.h"
#include "platform/crypto_backend/crypto_backend_public_blob.h"
#include "platform/crypto_backend/crypto_backend_simple_blob.h"

namespace tiv::cryptoapi {
namespace {

const rsa_key& receiver() {
    return test::shared_rsa_1024(0);
}

// The receiver's public half as a peer holds it: imported from its PUBLICKEYBLOB.
rsa_key receiver_public() {
    std::vector<std::uint8_t> blob;
    EXPECT_TRUE(export_public_key_blob(receiver(), calg_rsa_keyx, blob));
    rsa_key key;
    EXPECT_TRUE(import_public_key_blob(blob, key));
    return key;
}

// Raw RSA (no padding) of the reversed blob body: the PKCS#1 block as the receiver's private key sees it.
std::vector<std::uint8_t> raw_block(const std::vector<std::uint8_t>& blob) {
    std::vector<std::uint8_t> cipher(blob.begin() + 12, blob.end());
    std::reverse(cipher.begin(), cipher.end());
    std::vector<std::uint8_t> plain(cipher.size());
    std::size_t size = plain.size();
    const pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, receiver().get(), nullptr));
    EXPECT_EQ(EVP_PKEY_decrypt_init(ctx.get()), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING), 1);
    EXPECT_EQ(EVP_PKEY_decrypt(ctx.get(), plain.data(), &size, cipher.data(), cipher.size()), 1);
    plain.resize(size);
    return plain;
}

// A SIMPLEBLOB made by hand around arbitrary key bytes, to reach the importer's length rule.
std::vector<std::uint8_t> wrap_raw(std::uint32_t session_alg, const std::vector<std::uint8_t>& key) {
    std::vector<std::uint8_t> blob;
    put_blob_header(blob, simpleblob, session_alg);
    append_le32(blob, calg_rsa_keyx);
    std::size_t size = receiver().modulus_bytes();
    blob.resize(12 + size);
    const pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, receiver().get(), nullptr));
    EXPECT_EQ(EVP_PKEY_encrypt_init(ctx.get()), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING), 1);
    EXPECT_EQ(EVP_PKEY_encrypt(ctx.get(), blob.data() + 12, &size, key.data(), key.size()), 1);
    std::reverse(blob.begin() + 12, blob.end());
    return blob;
}

session_key generated(const session_cipher_params& params) {
    session_key key;
    const outcome made = session_key::generate(params.alg_id, params.key_bits, key);
    EXPECT_TRUE(made) << made.text();
    return key;
}

TEST(BackendSimpleBlob, EverySessionTypeWrapsAndUnwraps) {
    const rsa_key peer = receiver_public();
    for (const session_cipher_params& params : session_cipher_table()) {
        SCOPED_TRACE(params.openssl_name + std::string(" ") + std::to_string(params.key_bits));
        session_key key = generated(params);
        std::vector<std::uint8_t> blob;
        ASSERT_TRUE(wrap_simple_blob(key, peer, blob));
        ASSERT_EQ(blob.size(), 140u);
        std::vector<std::uint8_t> header;
        put_blob_header(header, simpleblob, params.alg_id);
        append_le32(header, calg_rsa_keyx);
        EXPECT_TRUE(std::equal(header.begin(), header.end(), blob.begin()));

        // The body reversed is a PKCS#1 v1.5 type 2 block around exactly the key bytes, no salt.
        const std::vector<std::uint8_t> block = raw_block(blob);
        ASSERT_EQ(block.size(), 128u);
        EXPECT_EQ(block[0], 0);
        EXPECT_EQ(block[1], 2);
        const std::size_t separator = 128 - params.key_bytes - 1;
        EXPECT_TRUE(std::all_of(block.begin() + 2, block.begin() + std::ptrdiff_t(separator),
                                [](std::uint8_t b) { return b != 0; }));
        EXPECT_GE(separator - 2, 8u);
        EXPECT_EQ(block[separator], 0);
        EXPECT_TRUE(
            std::equal(key.key_bytes().begin(), key.key_bytes().end(), block.begin() + std::ptrdiff_t(separator) + 1));

        session_key unwrapped;
        ASSERT_TRUE(unwrap_simple_blob(blob, receiver(), unwrapped));
        EXPECT_EQ(&unwrapped.params(), &params);
        EXPECT_TRUE(std::equal(key.key_bytes().begin(), key.key_bytes().end(), unwrapped.key_bytes().begin(),
                               unwrapped.key_bytes().end()));
        // And it works: what one encrypts the other decrypts.
        const std::vector<std::uint8_t> text = test::counting_bytes(256);
        std::vector<std::uint8_t> cipher;
        byte_buffer plain;
        ASSERT_TRUE(key.encrypt(text, true, cipher));
        ASSERT_TRUE(unwrapped.decrypt(cipher, true, plain));
        EXPECT_THAT(plain, testing::ElementsAreArray(text));
    }
}

TEST(BackendSimpleBlob, UnreversedBodyOrWrongKeyFails) {
    session_key key = generated(session_cipher_table()[11]);
    std::vector<std::uint8_t> blob;
    ASSERT_TRUE(wrap_simple_blob(key, receiver_public(), blob));
    std::vector<std::uint8_t> unreversed = blob;
    std::reverse(unreversed.begin() + 12, unreversed.end());
    session_key out;
    EXPECT_FALSE(unwrap_simple_blob(unreversed, receiver(), out));
    EXPECT_FALSE(unwrap_simple_blob(blob, test::shared_rsa_1024(1), out));
    EXPECT_FALSE(out);
    EXPECT_EQ(unwrap_simple_blob(blob, receiver_public(), out).code(), bad_key);
    EXPECT_EQ(unwrap_simple_blob(blob, rsa_key(), out).code(), bad_key);
}

TEST(BackendSimpleBlob, KeyLengthMustBeOneOfTheType) {
    struct raw_case {
        std::uint32_t alg;
        std::size_t bytes;
        bool accepted;
    };
    const raw_case cases[] = {
        {calg_rc4, 5, true},        {calg_rc4, 6, false},  {calg_rc4, 7, true},       {calg_rc4, 16, true},
        {calg_rc4, 17, false},      {calg_rc2, 8, false},  {calg_des, 7, false},      {calg_des, 8, true},
        {calg_3des_112, 24, false}, {calg_3des, 24, true}, {calg_aes_128, 32, false}, {calg_aes_256, 32, true},
        {calg_aes_192, 0, false},
    };
    for (const raw_case& c : cases) {
        session_key out;
        const outcome result =
            unwrap_simple_blob(wrap_raw(c.alg, std::vector<std::uint8_t>(c.bytes, 0x5A)), receiver(), out);
        EXPECT_EQ(static_cast<bool>(result), c.accepted) << c.alg << "/" << c.bytes << ": " << result.text();
        EXPECT_EQ(static_cast<bool>(out), c.accepted);
    }
}

TEST(BackendSimpleBlob, MalformedBlobsAreRefusedBeforeDecrypting) {
    session_key key = generated(session_cipher_table()[6]);
    std::vector<std::uint8_t> good;
    ASSERT_TRUE(wrap_simple_blob(key, receiver_public(), good));
    struct change {
        const char* what;
        std::size_t offset;
        std::uint8_t value;
        error_code expected;
    };
    const change changes[] = {
        {"PUBLICKEYBLOB type", 0, publickeyblob, bad_type},
        {"version 1", 1, 1, bad_data},
        {"reserved", 2, 9, bad_data},
        {"unknown session algorithm", 4, 0x11, bad_algid},
        {"wrapped under a signature key", 9, 0x24, bad_algid},
    };
    for (const change& c : changes) {
        std::vector<std::uint8_t> blob = good;
        blob[c.offset] = c.value;
        session_key out;
        EXPECT_EQ(unwrap_simple_blob(blob, receiver(), out).code(), c.expected) << c.what;
    }
    // Every cut, and one byte too many, from heap copies of exactly that length.
    for (std::size_t length = 0; length <= good.size() + 1; ++length) {
        if (length == good.size()) {
            continue;
        }
        const std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[length]);
        std::copy_n(good.begin(), std::min(length, good.size()), copy.get());
        session_key out;
        EXPECT_FALSE(unwrap_simple_blob({copy.get(), length}, receiver(), out)) << "length " << length;
    }
    // A claimed length beyond what an authentication record can hold is refused outright.
    std::vector<std::uint8_t> huge = good;
    huge.resize(max_simple_blob_size + 1);
    session_key out;
    EXPECT_EQ(unwrap_simple_blob(huge, receiver(), out).code(), bad_len);
}

TEST(BackendSimpleBlob, NothingToWrapOrNoKeyToWrapUnder) {
    std::vector<std::uint8_t> blob;
    EXPECT_EQ(wrap_simple_blob(session_key(), receiver_public(), blob).code(), bad_key);
    session_key key = generated(session_cipher_table()[9]);
    EXPECT_EQ(wrap_simple_blob(key, rsa_key(), blob).code(), bad_key);
    EXPECT_TRUE(blob.empty());
}

// The user's exchange pair is shared by every transfer thread: concurrent unwraps must all succeed.
TEST(BackendSimpleBlob, OneKeyPairServesSeveralThreadsAtOnce) {
    const rsa_key peer = receiver_public();
    std::atomic<int> unwrapped{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&peer, &unwrapped, t] {
            for (int round = 0; round < 8; ++round) {
                const session_cipher_params& params = session_cipher_table()[std::size_t(t * 3 + round) % 12];
                session_key key;
                std::vector<std::uint8_t> blob;
                session_key out;
                if (session_key::generate(params.alg_id, params.key_bits, key) && wrap_simple_blob(key, peer, blob) &&
                    unwrap_simple_blob(blob, receiver(), out) &&
                    std::equal(out.key_bytes().begin(), out.key_bytes().end(), key.key_bytes().begin())) {
                    ++unwrapped;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(unwrapped.load(), 32);
}

} // namespace
} // namespace tiv::cryptoapi
