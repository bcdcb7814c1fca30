// The parcel stream as a receiver or a sender splits and reads it: whatever the bytes, no read goes past a frame,
// and every payload that decodes re-encodes to exactly the bytes it was read from.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_support.h"
#include "net/stream/parcel_frames.h"

namespace {
template <typename Encoded> void check_same(const Encoded& again, std::span<const std::uint8_t> payload) {
    FUZZ_CHECK(again.size() == payload.size() && std::equal(again.begin(), again.end(), payload.begin()));
}

void check_payload(tiv::frame_type type, std::span<const std::uint8_t> payload) {
    using tiv::frame_type;
    switch (type) {
    case frame_type::folder:
        if (const auto folder = tiv::decode_folder(payload)) {
            check_same(tiv::encode_folder(*folder), payload);
        }
        break;
    case frame_type::directory:
        if (const auto path = tiv::decode_directory(payload)) {
            check_same(tiv::encode_directory(*path), payload);
        }
        break;
    case frame_type::file:
        if (const auto file = tiv::decode_file(payload)) {
            check_same(tiv::encode_file(*file), payload);
        }
        break;
    case frame_type::file_end:
        if (const auto end = tiv::decode_file_end(payload)) {
            check_same(tiv::encode_file_end(*end), payload);
        }
        break;
    case frame_type::resume:
        if (const auto from = tiv::decode_resume(payload)) {
            check_same(tiv::encode_resume(*from), payload);
        }
        break;
    case frame_type::offer:
        if (const auto offer = tiv::decode_offer(payload)) {
            check_same(tiv::encode_offer(*offer), payload);
        }
        break;
    case frame_type::whereabouts:
        if (const auto where = tiv::decode_whereabouts(payload)) {
            check_same(tiv::encode_whereabouts(*where), payload);
        }
        break;
    case frame_type::message:
        if (const auto text = tiv::decode_message(payload)) {
            check_same(tiv::encode_message(*text), payload);
        }
        break;
    default:
        break;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tiv::frame_splitter splitter;
    // Fed in two pieces, as a stream arrives: the split must not depend on where the pieces meet.
    const std::size_t half = size / 2;
    splitter.input().assign(data, data + half);
    std::size_t consumed = 0;
    bool fed_rest = false;
    for (;;) {
        tiv::frame_type type{};
        std::span<const std::uint8_t> payload;
        const auto result = splitter.next(type, payload);
        if (result == tiv::frame_splitter::result::frame) {
            FUZZ_CHECK(payload.size() <= tiv::max_frame_payload);
            consumed += tiv::frame_header_size + payload.size();
            FUZZ_CHECK(consumed <= size);
            check_payload(type, payload);
            continue;
        }
        if (result == tiv::frame_splitter::result::malformed || fed_rest) {
            break;
        }
        splitter.input().insert(splitter.input().end(), data + half, data + size);
        fed_rest = true;
    }
    return 0;
}
