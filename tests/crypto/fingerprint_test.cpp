#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "crypto/fingerprint.h"

namespace tiv {
namespace {

// Known answers, so another build of the program that hashes the pair differently cannot pass by agreeing with
// itself: the digests are SHA-256 of 03000000 010203 02000000 0405 and of 010203.
TEST(AuthenticationFingerprint, HashesBothBlobsWithTheirLengthsOrTheExchangeKeyAlone) {
    const std::vector<std::uint8_t> exchange = {1, 2, 3};
    const std::vector<std::uint8_t> signature = {4, 5};
    EXPECT_EQ(authentication_fingerprint(exchange, signature),
              "58A7 788A 5EE0 6027 0A79 0330 81A2 A86C 7057 CCB1 968F F4E8 155F 6D48 8824 8726");
    EXPECT_EQ(authentication_fingerprint(exchange, {}),
              "0390 58C6 F2C0 CB49 2C53 3B0A 4D14 EF77 CC0F 78AB CCCE D528 7D84 A1A2 011C FB81");
    EXPECT_EQ(authentication_fingerprint({}, signature), "");

    const std::vector<std::uint8_t> longer_exchange = {1, 2, 3, 4};
    const std::vector<std::uint8_t> shorter_signature = {5};
    EXPECT_NE(authentication_fingerprint(longer_exchange, shorter_signature),
              authentication_fingerprint(exchange, signature))
        << "the same bytes split differently are other keys";
}

} // namespace
} // namespace tiv
