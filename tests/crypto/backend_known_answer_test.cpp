#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "crypto/backend_test_support.h"
#include "platform/crypto_backend/crypto_backend_random.h"
#include "platform/crypto_backend/crypto_backend_session_key.h"
#include "platform/crypto_backend/openssl_util_providers.h"

namespace tiv::cryptoapi {
namespace {

using test::from_hex;
using test::to_hex;

// Ciphertexts that Windows' Enhanced RSA and AES provider produced (zero IV, PKCS#5 padding). The keys
// are slices of two digests: md2 is MD2 of the bytes 0..1999, drv a key derived from it.
const std::string md2 = "d5e1a7e9ac38c127f7731dba811698e0";
const std::string drv = "1d2879e482f2d02ed400ef4f6fff4d54db5a6856318ad42404764f3b28954fb5";

struct known_answer {
    const char* name;
    std::uint32_t alg_id;
    std::string key_hex;
    std::vector<std::uint8_t> plain;
    const char* cipher_hex;
};

std::vector<std::uint8_t> aes_text() {
    const std::string text = "AES Test With 2 Blocks Of Data.";
    std::vector<std::uint8_t> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

std::vector<known_answer> known_answers() {
    return {
        // Matches only when the 40-bit key is salted with 11 zero bytes and RC2 runs with 40 effective bits.
        {"RC2 40", calg_rc2, md2.substr(0, 10), test::counting_bytes(13), "c09ae42f0a476711fb1887ce0c7507b1"},
        {"RC4 56", calg_rc4, md2.substr(0, 14), test::counting_bytes(16), "170c448eae90cdb07f87f57aecb22e35"},
        // Two-key triple DES: the third DES key is the first.
        {"3DES 112", calg_3des_112, md2, test::counting_bytes(13), "8e0c3ca305885f7a32a1065264d2441c"},
        {"3DES 168", calg_3des, drv.substr(0, 48), test::counting_bytes(13), "7bbadda239d37bb3c751814153e8cfeb"},
        // 32 bytes of text: a whole block of padding follows.
        {"AES 256", calg_aes_256, drv, aes_text(),
         "2057170b1776d83b26908b4cf2007933292b139ce29509c1cd20872232709d759a94f5765cb1622ce1767c8673e67a23"},
    };
}

TEST(BackendKnownAnswer, WindowsCiphertextsAreReproducedAndDecrypted) {
    ASSERT_TRUE(load_providers().legacy_loaded) << load_providers().error;
    for (const known_answer& kat : known_answers()) {
        SCOPED_TRACE(kat.name);
        session_key key;
        const std::vector<std::uint8_t> key_bytes = from_hex(kat.key_hex);
        ASSERT_TRUE(session_key::from_key_bytes(kat.alg_id, key_bytes, key));
        std::vector<std::uint8_t> cipher;
        ASSERT_TRUE(key.encrypt(kat.plain, true, cipher));
        EXPECT_EQ(to_hex(cipher), kat.cipher_hex);
        byte_buffer plain;
        ASSERT_TRUE(key.decrypt(from_hex(kat.cipher_hex), true, plain));
        EXPECT_THAT(plain, testing::ElementsAreArray(kat.plain));
    }
}

TEST(BackendKnownAnswer, KnownAnswersHoldWhenFedInPieces) {
    for (const known_answer& kat : known_answers()) {
        SCOPED_TRACE(kat.name);
        session_key key;
        ASSERT_TRUE(session_key::from_key_bytes(kat.alg_id, from_hex(kat.key_hex), key));
        std::vector<std::uint8_t> cipher;
        for (std::size_t at = 0; at < kat.plain.size(); at += 3) {
            const std::size_t piece = std::min<std::size_t>(3, kat.plain.size() - at);
            ASSERT_TRUE(key.encrypt({kat.plain.data() + at, piece}, false, cipher));
        }
        ASSERT_TRUE(key.encrypt({}, true, cipher));
        EXPECT_EQ(to_hex(cipher), kat.cipher_hex);
    }
}

TEST(BackendKnownAnswer, Sha256AndRandomBytes) {
    const std::string abc = "abc";
    sha256_digest digest{};
    ASSERT_TRUE(sha256({reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()}, digest));
    EXPECT_EQ(to_hex(digest), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    ASSERT_TRUE(sha256({}, digest));
    EXPECT_EQ(to_hex(digest), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

    std::vector<std::uint8_t> first(64);
    std::vector<std::uint8_t> second(64);
    ASSERT_TRUE(random_bytes(first));
    ASSERT_TRUE(random_bytes(second));
    EXPECT_NE(first, second);
    EXPECT_NE(first, std::vector<std::uint8_t>(64, 0));
    EXPECT_TRUE(random_bytes({}));
}

} // namespace
} // namespace tiv::cryptoapi
