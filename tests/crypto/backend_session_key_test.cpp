#include <bit>
#include <random>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "crypto/backend_test_support.h"
#include "platform/crypto_backend/crypto_backend_session_key.h"

namespace tiv::cryptoapi {
namespace {

std::string type_name(const session_cipher_params& params) {
    return std::string(params.openssl_name) + " " + std::to_string(params.key_bits);
}

session_key generated(const session_cipher_params& params) {
    session_key key;
    const outcome made = session_key::generate(params.alg_id, params.key_bits, key);
    EXPECT_TRUE(made) << made.text();
    return key;
}

// A second key with the same bytes, as the other end holds it after unwrapping.
session_key twin(const session_key& key) {
    session_key copy;
    EXPECT_TRUE(session_key::from_key_bytes(key.params().alg_id, key.key_bytes(), copy));
    return copy;
}

std::vector<std::uint8_t> random_text(std::mt19937& rng, std::size_t size) {
    std::vector<std::uint8_t> out(size);
    for (std::uint8_t& b : out) {
        b = std::uint8_t(rng());
    }
    return out;
}

// Feeds `data` as continuing pieces of random lengths (0, 1, b-1, b, b+1 and longer), then completes the
// message with a last piece, the way the transfer loops do.
std::vector<std::uint8_t> run_in_pieces(session_key& key, bool encrypting, const std::vector<std::uint8_t>& data,
                                        std::mt19937& rng) {
    const std::size_t block = key.params().block_size;
    const std::size_t choices[] = {0, 1, block - 1, block, block + 1, 2 * block - 1, 37, 300};
    std::vector<std::uint8_t> out;
    byte_buffer opened;
    std::size_t at = 0;
    while (true) {
        const std::size_t piece = std::min(choices[rng() % std::size(choices)], data.size() - at);
        const bool last = at + piece == data.size() && rng() % 2 == 0;
        const std::span<const std::uint8_t> chunk(data.data() + at, piece);
        const outcome result = encrypting ? key.encrypt(chunk, last, out) : key.decrypt(chunk, last, opened);
        EXPECT_TRUE(result) << result.text();
        at += piece;
        if (last || !result) {
            out.insert(out.end(), opened.begin(), opened.end());
            return out;
        }
    }
}

TEST(BackendSessionKey, GeneratedKeysHaveTheTypesLengthAndParity) {
    for (const session_cipher_params& params : session_cipher_table()) {
        SCOPED_TRACE(type_name(params));
        const session_key a = generated(params);
        const session_key b = generated(params);
        ASSERT_EQ(a.key_bytes().size(), params.key_bytes);
        EXPECT_FALSE(std::equal(a.key_bytes().begin(), a.key_bytes().end(), b.key_bytes().begin()));
        if (params.alg_id == calg_des || params.alg_id == calg_3des_112 || params.alg_id == calg_3des) {
            for (const std::uint8_t byte : a.key_bytes()) {
                EXPECT_EQ(std::popcount(unsigned(byte)) % 2, 1) << int(byte);
            }
        }
    }
    session_key none;
    EXPECT_EQ(session_key::generate(calg_rc4, 64, none).code(), bad_algid);
    EXPECT_EQ(session_key::generate(calg_aes_256, 128, none).code(), bad_algid);
    EXPECT_EQ(session_key::generate(0x6611, 256, none).code(), bad_algid);
    EXPECT_FALSE(none);
}

TEST(BackendSessionKey, PiecesOfAnyLengthGiveOneMessageBack) {
    std::mt19937 rng(20240611);
    for (const session_cipher_params& params : session_cipher_table()) {
        SCOPED_TRACE(type_name(params));
        session_key sender = generated(params);
        session_key receiver = twin(sender);
        const std::size_t b = params.block_size;
        for (const std::size_t size : {std::size_t(0), std::size_t(1), b - 1, b, b + 1, 8 * b, std::size_t(264),
                                       std::size_t(1000), std::size_t(rng() % 5000)}) {
            SCOPED_TRACE(size);
            const std::vector<std::uint8_t> text = random_text(rng, size);
            std::vector<std::uint8_t> one_shot;
            ASSERT_TRUE(sender.encrypt(text, true, one_shot));
            EXPECT_EQ(one_shot.size(), sender.encrypted_length(size));
            EXPECT_EQ(one_shot.size(), b == 1 ? size : (size / b + 1) * b);

            const std::vector<std::uint8_t> pieced = run_in_pieces(sender, true, text, rng);
            EXPECT_EQ(pieced, one_shot);
            EXPECT_EQ(run_in_pieces(receiver, false, pieced, rng), text);
        }
    }
}

TEST(BackendSessionKey, RecordOfTheTransferHasItsWireLength) {
    for (const session_cipher_params& params : session_cipher_table()) {
        session_key key = generated(params);
        std::vector<std::uint8_t> record;
        ASSERT_TRUE(key.encrypt(test::counting_bytes(264), true, record));
        EXPECT_EQ(record.size(), params.block_size == 1 ? 264u : 272u) << type_name(params);
    }
}

TEST(BackendSessionKey, EveryMessageStartsFromTheInitialState) {
    for (const session_cipher_params& params : session_cipher_table()) {
        SCOPED_TRACE(type_name(params));
        session_key key = generated(params);
        const std::vector<std::uint8_t> text = test::counting_bytes(100);
        std::vector<std::uint8_t> first;
        std::vector<std::uint8_t> second;
        ASSERT_TRUE(key.encrypt(text, true, first));
        ASSERT_TRUE(key.encrypt(text, true, second));
        EXPECT_EQ(first, second);
        // Within one message the stream runs on: the same block twice does not encrypt alike.
        std::vector<std::uint8_t> running;
        const std::vector<std::uint8_t> block(params.block_size == 1 ? 16 : params.block_size, 0x41);
        ASSERT_TRUE(key.encrypt(block, false, running));
        ASSERT_TRUE(key.encrypt(block, false, running));
        ASSERT_TRUE(key.encrypt({}, true, running));
        EXPECT_FALSE(std::equal(running.begin(), running.begin() + std::ptrdiff_t(block.size()),
                                running.begin() + std::ptrdiff_t(block.size())));
    }
}

TEST(BackendSessionKey, DirectionsKeepSeparateStates) {
    session_key key = generated(session_cipher_table()[11]);
    const std::vector<std::uint8_t> text = test::counting_bytes(40);
    std::vector<std::uint8_t> reference;
    ASSERT_TRUE(key.encrypt(text, true, reference));
    // A decryption half done neither shifts what the same key encrypts nor is disturbed by it.
    byte_buffer plain;
    ASSERT_TRUE(key.decrypt({reference.data(), 20}, false, plain));
    std::vector<std::uint8_t> again;
    ASSERT_TRUE(key.encrypt(text, true, again));
    EXPECT_EQ(again, reference);
    ASSERT_TRUE(key.decrypt({reference.data() + 20, reference.size() - 20}, true, plain));
    EXPECT_THAT(plain, testing::ElementsAreArray(text));
}

TEST(BackendSessionKey, DamagedOrShortMessagesFailAndTheKeyRecovers) {
    for (const session_cipher_params& params : session_cipher_table()) {
        if (params.block_size == 1) {
            continue;
        }
        SCOPED_TRACE(type_name(params));
        session_key key = generated(params);
        const std::vector<std::uint8_t> text = test::counting_bytes(50);
        std::vector<std::uint8_t> cipher;
        ASSERT_TRUE(key.encrypt(text, true, cipher));

        std::vector<std::uint8_t> flipped = cipher;
        flipped.back() ^= 0x01;
        byte_buffer plain;
        const outcome damaged = key.decrypt(flipped, true, plain);
        if (damaged) {
            EXPECT_THAT(plain, testing::Not(testing::ElementsAreArray(text)));
        } else {
            EXPECT_EQ(damaged.code(), bad_data);
        }

        // A stream cut short: not a whole number of blocks, or nothing at all.
        byte_buffer nothing;
        const outcome cut = key.decrypt({cipher.data(), cipher.size() - 1}, true, nothing);
        EXPECT_EQ(cut.code(), bad_data);
        EXPECT_TRUE(nothing.empty());
        EXPECT_EQ(key.decrypt({}, true, nothing).code(), bad_data);

        // A failed completion restarted the key: the next message decrypts.
        plain.clear();
        ASSERT_TRUE(key.decrypt(cipher, true, plain));
        EXPECT_THAT(plain, testing::ElementsAreArray(text));
    }
}

TEST(BackendSessionKey, DecryptionHoldsBackOnlyTheLastBlock) {
    session_key key = generated(session_cipher_table()[9]);
    const std::vector<std::uint8_t> text = test::counting_bytes(64);
    std::vector<std::uint8_t> cipher;
    ASSERT_TRUE(key.encrypt(text, true, cipher));
    ASSERT_EQ(cipher.size(), 80u);
    byte_buffer plain;
    ASSERT_TRUE(key.decrypt({cipher.data(), 16}, false, plain));
    EXPECT_TRUE(plain.empty());
    ASSERT_TRUE(key.decrypt({cipher.data() + 16, 48}, false, plain));
    EXPECT_EQ(plain.size(), 48u);
    ASSERT_TRUE(key.decrypt({cipher.data() + 64, 16}, true, plain));
    EXPECT_THAT(plain, testing::ElementsAreArray(text));
}

TEST(BackendSessionKey, NoKeyMeansNoWork) {
    session_key none;
    std::vector<std::uint8_t> sealed;
    byte_buffer opened;
    EXPECT_EQ(none.encrypt(test::counting_bytes(8), true, sealed).code(), bad_key);
    EXPECT_EQ(none.decrypt(test::counting_bytes(8), true, opened).code(), bad_key);
    EXPECT_TRUE(sealed.empty() && opened.empty());
}

} // namespace
} // namespace tiv::cryptoapi
