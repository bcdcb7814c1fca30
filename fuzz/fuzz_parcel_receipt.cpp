// The receipt a sender reads from its receiver: whatever the bytes, a decoded receipt re-encodes to exactly the
// bytes it was read from, and its reason is text a terminal may print.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_support.h"
#include "net/transfer/parcel_receipt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    tiv::parcel_receipt receipt;
    std::size_t used = 0;
    if (tiv::decode_receipt(bytes, receipt, used) != tiv::receipt_parse::complete) {
        FUZZ_CHECK(used == 0);
        return 0;
    }
    FUZZ_CHECK(used <= size && receipt.text.size() <= tiv::parcel_receipt::max_text);
    const std::vector<std::uint8_t> again = receipt.encode();
    FUZZ_CHECK(again.size() == used && std::equal(again.begin(), again.end(), bytes.begin()));
    for (const char c : receipt.text) {
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    }
    return 0;
}
