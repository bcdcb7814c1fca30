#include <gtest/gtest.h>

#include "net/transfer/parcel_receipt.h"

namespace tiv {
namespace {

// The bytes the sender reads come from the other end: every length is checked before it is read.
TEST(ParcelReceipt, RoundTripsAndRefusesWhatNoReceiverSends) {
    const parcel_receipt refused =
        refusal_receipt(receipt_reason::over_count, transfer_status::refused, "box full: 10 files");
    std::vector<std::uint8_t> bytes = refused.encode();
    ASSERT_EQ(bytes.size(), parcel_receipt::header_size + refused.text.size());
    parcel_receipt read;
    std::size_t used = 0;
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        EXPECT_EQ(decode_receipt(std::span(bytes).first(cut), read, used), receipt_parse::incomplete) << cut;
    }
    bytes.push_back('x'); // what follows a receipt is not part of it
    ASSERT_EQ(decode_receipt(bytes, read, used), receipt_parse::complete);
    EXPECT_EQ(used, bytes.size() - 1);
    EXPECT_EQ(read.reason, receipt_reason::over_count);
    EXPECT_EQ(read.status, 4);
    EXPECT_EQ(receipt_words(read), "the receiver refused the file: box full: 10 files");

    const auto malformed = [&](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> changed = refused.encode();
        changed[at] = value;
        return decode_receipt(changed, read, used) == receipt_parse::malformed;
    };
    EXPECT_TRUE(malformed(0, 'X'));  // magic
    EXPECT_TRUE(malformed(2, 2));    // layout version
    EXPECT_TRUE(malformed(3, 0));    // stored, but a refusal's reason
    EXPECT_TRUE(malformed(4, 9));    // no such status
    EXPECT_TRUE(malformed(5, 10));   // no such reason
    EXPECT_TRUE(malformed(7, 1));    // longer than any reason may be
    EXPECT_TRUE(malformed(8, 0x1B)); // a control character for the sender's terminal
    EXPECT_TRUE(malformed(8, 0xC0)); // not UTF-8

    // What the receiver puts in is made printable and bounded before it goes out.
    const parcel_receipt noisy =
        refusal_receipt(receipt_reason::write_failed, transfer_status::receive, "a\x1b[2Jb" + std::string(400, 'z'));
    ASSERT_EQ(decode_receipt(noisy.encode(), read, used), receipt_parse::complete);
    EXPECT_EQ(read.text.substr(0, 6), "a [2Jb");
    EXPECT_EQ(read.text.size(), parcel_receipt::max_text);
}

} // namespace
} // namespace tiv
