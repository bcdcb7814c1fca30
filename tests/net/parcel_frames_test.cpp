#include <algorithm>

#include <gtest/gtest.h>

#include "net/stream/parcel_frames.h"

namespace tiv::test {
namespace {

TEST(ParcelFrames, EveryRecordReadsBackAndNoShortenedOneDoes) {
    const folder_frame folder{.name = "Photos", .files = 300, .directories = 7, .bytes = 5'000'000'000};
    const file_frame file{.path = "2024/jan/a.jpg", .size = 1ULL << 33, .mtime_ns = -5, .resumable = true};
    frame_digest hash{};
    hash[31] = 7;
    const file_end_frame end{.complete = true, .whole_hash = hash};

    const auto read_folder = decode_folder(encode_folder(folder));
    ASSERT_TRUE(read_folder);
    EXPECT_EQ(read_folder->name, "Photos");
    EXPECT_EQ(read_folder->bytes, folder.bytes);
    const auto read_file = decode_file(encode_file(file));
    ASSERT_TRUE(read_file);
    EXPECT_EQ(read_file->path, file.path);
    EXPECT_EQ(read_file->size, file.size);
    EXPECT_EQ(read_file->mtime_ns, -5);
    EXPECT_TRUE(read_file->resumable);
    EXPECT_EQ(decode_file_end(encode_file_end(end))->whole_hash, hash);
    EXPECT_EQ(decode_offer(encode_offer({.kept = 99, .hash = hash}))->kept, 99U);

    for (std::vector<std::uint8_t> bytes : {encode_folder(folder), encode_file(file), encode_file_end(end)}) {
        bytes.pop_back();
        EXPECT_FALSE(decode_folder(bytes) || decode_file(bytes) || decode_file_end(bytes));
        bytes.push_back(0);
        bytes.push_back(0);
        EXPECT_FALSE(decode_folder(bytes) || decode_file(bytes) || decode_file_end(bytes)) << "a byte left over";
    }
}

TEST(ParcelFrames, TheSplitterWaitsForWholeFramesAndRefusesAnOversizedOne) {
    std::vector<std::uint8_t> stream;
    append_frame(stream, frame_type::directory, encode_directory("a"));
    append_frame(stream, frame_type::end, {});
    frame_splitter splitter;
    frame_type type{};
    std::span<const std::uint8_t> payload;
    splitter.input().assign(stream.begin(), stream.begin() + 4);
    EXPECT_EQ(splitter.next(type, payload), frame_splitter::result::incomplete);
    splitter.input().insert(splitter.input().end(), stream.begin() + 4, stream.end());
    ASSERT_EQ(splitter.next(type, payload), frame_splitter::result::frame);
    EXPECT_EQ(decode_directory(payload), "a");
    ASSERT_EQ(splitter.next(type, payload), frame_splitter::result::frame);
    EXPECT_EQ(type, frame_type::end);
    EXPECT_FALSE(splitter.holds_partial());

    std::uint8_t huge[frame_header_size];
    put_frame_header(huge, frame_type::data, max_frame_payload + 1);
    frame_splitter oversized;
    oversized.input().assign(huge, huge + frame_header_size);
    EXPECT_EQ(oversized.next(type, payload), frame_splitter::result::malformed);
    frame_splitter unknown;
    unknown.input().assign({0x55, 0, 0, 0, 0});
    EXPECT_EQ(unknown.next(type, payload), frame_splitter::result::malformed);
}

TEST(ParcelFrames, FramesCutAcrossArrivalsComeOutWholeWhileTheBufferIsCompacted) {
    // Far more than the buffer keeps before it drops what was handed out, cut where no frame boundary falls.
    constexpr int frames = 60;
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < frames; ++i) {
        append_frame(stream, frame_type::data, std::vector<std::uint8_t>(10'000, static_cast<std::uint8_t>(i)));
    }
    frame_splitter splitter;
    frame_type type{};
    std::span<const std::uint8_t> payload;
    int seen = 0;
    for (std::size_t at = 0; at < stream.size(); at += 7'777) {
        const auto piece_end = stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), at + 7'777));
        splitter.input().insert(splitter.input().end(), stream.begin() + static_cast<std::ptrdiff_t>(at), piece_end);
        while (splitter.next(type, payload) == frame_splitter::result::frame) {
            ASSERT_EQ(payload.size(), 10'000U);
            EXPECT_EQ(std::count(payload.begin(), payload.end(), static_cast<std::uint8_t>(seen)), 10'000) << seen;
            ++seen;
        }
    }
    EXPECT_EQ(seen, frames);
    EXPECT_FALSE(splitter.holds_partial());
}

TEST(ParcelFrames, AnAddressClaimIsReadOnlyWhenItIsANameOrAnAddressWithAPort) {
    const std::vector<std::uint8_t> good = encode_whereabouts({.host = "2001:db8::5", .port = 20000});
    ASSERT_TRUE(decode_whereabouts(good));
    EXPECT_EQ(decode_whereabouts(good)->host, "2001:db8::5");
    std::vector<std::uint8_t> longer = good;
    longer.push_back('x');
    EXPECT_FALSE(decode_whereabouts(longer)) << "a byte beyond the host";
    EXPECT_FALSE(decode_whereabouts(std::span(good).first(good.size() - 1)));
    EXPECT_FALSE(decode_whereabouts(encode_whereabouts({.host = "bob.example.org", .port = 0})));
    EXPECT_FALSE(decode_whereabouts(encode_whereabouts({.host = "", .port = 20000})));
    EXPECT_FALSE(decode_whereabouts(encode_whereabouts({.host = "bob\x1b[2J", .port = 20000})));
    EXPECT_FALSE(decode_whereabouts(encode_whereabouts({.host = "evil host", .port = 20000})));
}

TEST(ParcelFrames, AMessageIsOneToAtMost4096BytesAndNothingElse) {
    const std::string longest(max_message_bytes, 'x');
    EXPECT_EQ(decode_message(encode_message(longest)), longest);
    std::vector<std::uint8_t> over = {0x01, 0x10}; // 4097 bytes announced and there
    over.resize(2 + max_message_bytes + 1, 'x');
    EXPECT_FALSE(decode_message(over));
    EXPECT_FALSE(decode_message(encode_message(""))) << "no message at all";
    std::vector<std::uint8_t> longer = encode_message("hi");
    longer.push_back('!');
    EXPECT_FALSE(decode_message(longer)) << "a byte beyond the text";
    // A sender's text that is too long is cut, never split inside a character: 4095 bytes and a 3-byte one.
    EXPECT_EQ(decode_message(encode_message(std::string(max_message_bytes - 1, 'x') + "\xe2\x82\xac"))->size(),
              max_message_bytes - 1);
}

} // namespace
} // namespace tiv::test
