#include <gtest/gtest.h>

#include "core/address_text.h"

namespace tiv {
namespace {

TEST(AddressText, HostNamesAndAddressLiteralsAreAddresses) {
    for (const char* good : {"localhost", "bob.example.net", "bob.example.net.", "my_pc", "x1-y2", "192.0.2.7",
                             "127.0.0.1", "::1", "2001:db8::7", "fe80::1:2:3:4", "::ffff:192.0.2.7"}) {
        EXPECT_EQ(address_fault(good), std::nullopt) << good;
    }
}

TEST(AddressText, WhatNoResolverShouldSeeIsRefusedWithTheReason) {
    EXPECT_EQ(address_fault(""), "is empty");
    EXPECT_EQ(address_fault("bob\x1b]0;owned\x07"), "holds control or bidirectional characters");
    EXPECT_EQ(address_fault("bob\xc2\x9b"
                            "31m"),
              "holds control or bidirectional characters")
        << "C1 in its UTF-8 form";
    EXPECT_EQ(address_fault("moc.\u202eexample"), "holds control or bidirectional characters");
    EXPECT_EQ(address_fault("bob\xff"), "holds control or bidirectional characters");
    EXPECT_EQ(address_fault("bob example"), "holds a blank");
    EXPECT_EQ(address_fault("2001:db8::g"), "is not an IPv6 address");
    EXPECT_EQ(address_fault("[::1]"), "is not an IPv6 address");
    EXPECT_EQ(address_fault("127.1"), "is not a dotted IPv4 address");
    EXPECT_EQ(address_fault("1.2.3.999"), "is not a dotted IPv4 address");
    for (const char* bad : {"-bob.example", "bob..example", ".", "bob/example", "caf\xc3\xa9.example"}) {
        EXPECT_NE(address_fault(bad), std::nullopt) << bad;
    }
    EXPECT_NE(address_fault(std::string(64, 'a') + ".example"), std::nullopt) << "a label of 64 characters";
}

} // namespace
} // namespace tiv
