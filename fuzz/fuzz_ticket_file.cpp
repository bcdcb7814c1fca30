// A saved TLS session file as a sender reads it back from its key directory: whatever the bytes, a file that decodes
// re-encodes to exactly the bytes it was read from. The slot is taken from the input itself, so the fuzzer gets past
// the slot check to the length and checksum behind it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/session_ticket_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    constexpr std::size_t slot_at = 5;
    tiv::ticket_slot slot{};
    if (size >= slot_at + slot.size()) {
        std::copy_n(bytes.begin() + slot_at, slot.size(), slot.begin());
    }
    const auto ticket = tiv::decode_ticket_file(bytes, slot);
    if (!ticket) {
        return 0;
    }
    FUZZ_CHECK(!ticket->session.empty());
    const std::vector<std::uint8_t> again = tiv::encode_ticket_file(slot, *ticket);
    FUZZ_CHECK(again.size() == size && std::equal(again.begin(), again.end(), bytes.begin()));
    return 0;
}
