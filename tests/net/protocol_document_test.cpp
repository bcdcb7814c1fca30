#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/transfer_view.h"
#include "crypto/auth_records.h"
#include "crypto/negotiating_authentycryptor.h"
#include "crypto/record_link.h"
#include "net/box/kept_part.h"
#include "net/single_file/file_record.h"
#include "net/stream/parcel_frames.h"
#include "net/stream/received_folder.h"
#include "net/stream/stream_sending.h"
#include "net/transfer/parcel_receipt.h"
#include "platform/crypto_backend/crypto_backend_random.h"
#include "platform/uuid.h"
#include "support/test_identity.h"

// docs/protocol.md is what a second implementation is built from: its examples and limits are held against the
// program's own encoders, decoders and constants here, so the document cannot drift from the code.
namespace tiv {
namespace {

using bytes = std::vector<std::uint8_t>;

std::string protocol_document() {
    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/docs/protocol.md");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A block ```hex NAME: bytes as hex pairs, `#` comments, a leading `0010:` offset that must match the bytes
// before it, and `>` / `<` marking the lines (and the unmarked lines after them) the sender or the receiver sends.
struct hex_example {
    bytes all;
    bytes from_sender;
    bytes from_receiver;
};

hex_example read_example(const std::string& document, const std::string& name) {
    hex_example example;
    const std::string fence = "```hex " + name + "\n";
    const std::size_t start = document.find(fence);
    if (start == std::string::npos) {
        ADD_FAILURE() << "no example " << name;
        return example;
    }
    const std::size_t body = start + fence.size();
    std::istringstream lines(document.substr(body, document.find("```", body) - body));
    bytes* direction = nullptr;
    for (std::string line; std::getline(lines, line);) {
        line = line.substr(0, line.find('#'));
        std::istringstream tokens(line);
        for (std::string token; tokens >> token;) {
            if (token == ">" || token == "<") {
                direction = token == ">" ? &example.from_sender : &example.from_receiver;
            } else if (token.back() == ':') {
                const bytes& so_far = direction != nullptr ? *direction : example.all;
                EXPECT_EQ(std::stoul(token, nullptr, 16), so_far.size()) << name << ": " << line;
            } else if (token.size() == 2 && std::isxdigit(static_cast<unsigned char>(token[0])) &&
                       std::isxdigit(static_cast<unsigned char>(token[1]))) {
                const auto value = static_cast<std::uint8_t>(std::stoul(token, nullptr, 16));
                example.all.push_back(value);
                if (direction != nullptr) {
                    direction->push_back(value);
                }
            } else {
                ADD_FAILURE() << name << ": not a hex byte: " << token;
            }
        }
    }
    return example;
}

bytes text_bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// Compared as text, so a failure shows the bytes the way the document writes them.
std::string hex(const bytes& data) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : data) {
        text += text.empty() ? "" : " ";
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

// What an exchange sends, recorded; what it reads, played back until it runs out, when the connection counts as
// gone.
class scripted_link : public record_link {
public:
    explicit scripted_link(bytes incoming = {}) : m_aIncoming(std::move(incoming)) {}
    bytes sent;

protected:
    bool write_all(std::span<const std::uint8_t> out) override {
        sent.insert(sent.end(), out.begin(), out.end());
        return true;
    }
    bool read_exact(std::span<std::uint8_t> in) override {
        if (m_aIncoming.size() - m_nRead < in.size()) {
            return false;
        }
        std::copy_n(m_aIncoming.begin() + static_cast<std::ptrdiff_t>(m_nRead), in.size(), in.begin());
        m_nRead += in.size();
        return true;
    }

private:
    bytes m_aIncoming;
    std::size_t m_nRead = 0;
};

TEST(ProtocolDocument, CapabilityRecordsAreWhatTheRealExchangeSendsAndAnswers) {
    const std::string document = protocol_document();
    const bytes offer = read_example(document, "capability-v6-offer").all;
    const bytes answer = read_example(document, "capability-v6-answer").all;
    ASSERT_EQ(offer.size(), auth::cap_record_size);
    ASSERT_EQ(answer.size(), auth::cap_record_size);

    const std::string uuid = "00112233-4455-6677-8899-aabbccddeeff";
    test::test_identity alice("Alice");
    test::test_identity bob("Bob");
    alice.settings().set_text(text_setting::user_uuid, uuid);
    alice.provider().allowed_key_types = 0xE40;
    bob.provider().allowed_key_types = 0xE40;
    bob.befriend(alice, 0xE40, true);
    using version = negotiating_authentycryptor::version;

    // Each side is cut off right after its record, so the record is all it sends.
    scripted_link to_bob;
    negotiating_authentycryptor sender(alice.provider(), alice.settings(), version::conversing);
    EXPECT_FALSE(sender.AuthenticateAsSender(to_bob, bob.as_friend(0xE40, true)));
    ASSERT_GT(to_bob.sent.size(), auth::cap_record_size);
    EXPECT_EQ(hex(bytes(to_bob.sent.begin(), to_bob.sent.begin() + auth::cap_record_size)), hex(offer));
    // For a pinned friend the ClientHello follows at once: one TLS handshake record, the rest of the flight.
    const bytes hello(to_bob.sent.begin() + auth::cap_record_size, to_bob.sent.end());
    ASSERT_GE(hello.size(), 6U);
    EXPECT_EQ(hello[0], 0x16) << "a handshake record";
    EXPECT_EQ(hello.size(), 5U + ((std::size_t{hello[3]} << 8) | hello[4])) << "one record, whole";
    EXPECT_EQ(hello[5], 0x01) << "a ClientHello";

    scripted_link from_alice(offer);
    negotiating_authentycryptor receiver(bob.provider(), bob.settings(), version::conversing);
    friend_profile found;
    EXPECT_FALSE(receiver.AuthenticateAsReceiver(from_alice, found));
    EXPECT_STREQ(found.name, "Alice") << "the offer's UUID names the sender";
    ASSERT_GE(from_alice.sent.size(), auth::cap_record_size);
    EXPECT_EQ(hex(bytes(from_alice.sent.begin(), from_alice.sent.begin() + auth::cap_record_size)), hex(answer));

    auth::cap_bytes decoded{};
    std::copy(answer.begin(), answer.end(), decoded.begin());
    const auth::cap_record reply = auth::cap_record::decode(decoded);
    EXPECT_EQ(reply.key_types, 0x800U);
    const exchange_marker::bytes conversing = exchange_marker::of(exchange_marker::side::receiver, 6);
    EXPECT_TRUE(std::equal(conversing.begin(), conversing.end(), reply.reserved.begin()));
    EXPECT_EQ(reply.user_uuid, uuid_to_guid_bytes(*uuid_from_text(uuid)));
}

TEST(ProtocolDocument, StreamExampleIsWhatTheFrameCodecsMakeOfAResumedFile) {
    const hex_example example = read_example(protocol_document(), "stream-resume");
    constexpr std::int64_t mtime = 1700000000123456789;
    const std::uint64_t kept = std::uint64_t{1} << 20;
    bytes video(kept);
    const cryptoapi::sha256_digest kept_hash = [&] {
        cryptoapi::sha256_digest digest{};
        EXPECT_TRUE(cryptoapi::sha256(video, digest));
        return digest;
    }();
    const bytes tail = text_bytes("tail");
    video.insert(video.end(), tail.begin(), tail.end());
    cryptoapi::sha256_digest whole_hash{};
    ASSERT_TRUE(cryptoapi::sha256(video, whole_hash));
    const file_frame notes{.path = "notes.txt", .size = 5, .mtime_ns = mtime, .resumable = false};
    const file_frame resumed{.path = "video.bin", .size = video.size(), .mtime_ns = mtime, .resumable = true};
    // As the program decides them: only the large file is offered for resuming, and its part was worth keeping.
    EXPECT_LT(notes.size, resume_threshold);
    EXPECT_GE(resumed.size, resume_threshold);
    EXPECT_GE(kept, min_kept_file_size);

    bytes sender;
    bytes receiver;
    append_frame(sender, frame_type::file, encode_file(notes));
    append_frame(sender, frame_type::data, text_bytes("hello"));
    append_frame(sender, frame_type::file_end, encode_file_end({.complete = true, .whole_hash = std::nullopt}));
    append_frame(receiver, frame_type::receipt, stored_receipt().encode());
    append_frame(sender, frame_type::file, encode_file(resumed));
    append_frame(receiver, frame_type::offer, encode_offer({.kept = kept, .hash = kept_hash}));
    append_frame(sender, frame_type::resume, encode_resume(kept));
    append_frame(sender, frame_type::data, tail);
    append_frame(sender, frame_type::file_end, encode_file_end({.complete = true, .whole_hash = whole_hash}));
    append_frame(receiver, frame_type::receipt, stored_receipt().encode());
    append_frame(sender, frame_type::end, {});
    EXPECT_EQ(hex(example.from_sender), hex(sender));
    EXPECT_EQ(hex(example.from_receiver), hex(receiver));

    // And back: every frame of the example splits off whole and decodes to what the text says it is.
    frame_splitter from_sender;
    from_sender.input().assign(example.from_sender.begin(), example.from_sender.end());
    std::vector<frame_type> types;
    frame_type type{};
    std::span<const std::uint8_t> payload;
    while (from_sender.next(type, payload) == frame_splitter::result::frame) {
        types.push_back(type);
        if (type == frame_type::file) {
            const std::optional<file_frame> file = decode_file(payload);
            ASSERT_TRUE(file);
            EXPECT_EQ(file->resumable, file->path == "video.bin");
            EXPECT_EQ(file->mtime_ns, mtime);
        } else if (type == frame_type::resume) {
            EXPECT_EQ(decode_resume(payload), kept);
        } else if (type == frame_type::file_end) {
            const std::optional<file_end_frame> end = decode_file_end(payload);
            ASSERT_TRUE(end);
            EXPECT_TRUE(end->complete);
        }
    }
    EXPECT_FALSE(from_sender.holds_partial());
    EXPECT_EQ(types, (std::vector{frame_type::file, frame_type::data, frame_type::file_end, frame_type::file,
                                  frame_type::resume, frame_type::data, frame_type::file_end, frame_type::end}));

    frame_splitter from_receiver;
    from_receiver.input().assign(example.from_receiver.begin(), example.from_receiver.end());
    ASSERT_EQ(from_receiver.next(type, payload), frame_splitter::result::frame);
    ASSERT_EQ(type, frame_type::receipt);
    ASSERT_EQ(from_receiver.next(type, payload), frame_splitter::result::frame);
    ASSERT_EQ(type, frame_type::offer);
    const std::optional<offer_frame> offer = decode_offer(payload);
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->kept, kept);
    EXPECT_EQ(offer->hash, kept_hash);
    ASSERT_EQ(from_receiver.next(type, payload), frame_splitter::result::frame);
    parcel_receipt receipt;
    std::size_t used = 0;
    ASSERT_EQ(decode_receipt(payload, receipt, used), receipt_parse::complete);
    EXPECT_TRUE(receipt.stored());
}

TEST(ProtocolDocument, WhereaboutsExampleIsWhatTheSenderFramesAndTheReceiverReads) {
    const bytes example = read_example(protocol_document(), "whereabouts-frame").all;
    bytes framed;
    append_frame(framed, frame_type::whereabouts, encode_whereabouts({.host = "bob.example.org", .port = 20000}));
    EXPECT_EQ(hex(framed), hex(example));
    const std::optional<whereabouts> read = decode_whereabouts(std::span(example).subspan(frame_header_size));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->host, "bob.example.org");
    EXPECT_EQ(read->port, 20000);
}

TEST(ProtocolDocument, CheckAndMessageExamplesAreWhatTheFrameCodecsMake) {
    const std::string document = protocol_document();
    const hex_example check = read_example(document, "conversation-check");
    bytes asked;
    bytes answered;
    append_frame(asked, frame_type::check, {});
    append_frame(asked, frame_type::end, {});
    append_frame(answered, frame_type::checked, {});
    EXPECT_EQ(hex(check.from_sender), hex(asked));
    EXPECT_EQ(hex(check.from_receiver), hex(answered));

    const hex_example message = read_example(document, "conversation-message");
    asked.clear();
    answered.clear();
    append_frame(asked, frame_type::message, encode_message("hello Bob"));
    append_frame(asked, frame_type::end, {});
    append_frame(answered, frame_type::receipt, stored_receipt().encode());
    EXPECT_EQ(hex(message.from_sender), hex(asked));
    EXPECT_EQ(hex(message.from_receiver), hex(answered));
    frame_splitter splitter;
    splitter.input().assign(message.from_sender.begin(), message.from_sender.end());
    frame_type type{};
    std::span<const std::uint8_t> payload;
    ASSERT_EQ(splitter.next(type, payload), frame_splitter::result::frame);
    EXPECT_EQ(decode_message(payload), "hello Bob");

    const hex_example refused = read_example(document, "message-refused");
    answered.clear();
    append_frame(
        answered, frame_type::receipt,
        refusal_receipt(receipt_reason::messages_off, transfer_status::refused, "messages are off for you").encode());
    EXPECT_EQ(hex(refused.from_receiver), hex(answered));
    frame_splitter answer;
    answer.input().assign(refused.from_receiver.begin(), refused.from_receiver.end());
    ASSERT_EQ(answer.next(type, payload), frame_splitter::result::frame);
    parcel_receipt receipt;
    std::size_t used = 0;
    ASSERT_EQ(decode_receipt(payload, receipt, used), receipt_parse::complete);
    EXPECT_EQ(receipt.reason, receipt_reason::messages_off);
}

TEST(ProtocolDocument, ReceiptExampleIsARefusalBothCodecsAgreeOn) {
    const bytes example = read_example(protocol_document(), "receipt-refused").all;
    const std::string text = "the file of 2097152 bytes is larger than the maximum of 1048576 bytes";
    EXPECT_EQ(hex(refusal_receipt(receipt_reason::over_size, transfer_status::refused, text).encode()), hex(example));

    parcel_receipt receipt;
    std::size_t used = 0;
    ASSERT_EQ(decode_receipt(example, receipt, used), receipt_parse::complete);
    EXPECT_EQ(used, example.size());
    EXPECT_EQ(receipt.reason, receipt_reason::over_size);
    EXPECT_EQ(receipt.status, number_of(transfer_status::refused));
    EXPECT_EQ(receipt.text, text);
}

TEST(ProtocolDocument, LimitsTableGivesTheValuesOfTheConstantsItNames) {
    const std::string document = protocol_document();
    const std::pair<const char*, std::uint64_t> limits[] = {
        {"frame_header_size", frame_header_size},
        {"max_frame_payload", max_frame_payload},
        {"max_sent_path", max_sent_path},
        {"max_folder_depth", max_folder_depth},
        {"max_component_bytes", max_component_bytes},
        {"max_relative_path_bytes", max_relative_path_bytes},
        {"resume_threshold", resume_threshold},
        {"min_kept_file_size", min_kept_file_size},
        {"max_kept_parts", max_kept_parts},
        {"parcel_receipt::max_text", parcel_receipt::max_text},
        {"max_message_bytes", max_message_bytes},
        {"auth::cap_record_size", auth::cap_record_size},
        {"auth::pass_record_size", auth::pass_record_size},
        {"file_record::size", file_record::size},
    };
    for (const auto& [name, value] : limits) {
        // The table's row "| what | value ... | `name` |": its second cell starts with the value.
        const std::size_t at = document.find(std::string("| `") + name + "` |");
        ASSERT_NE(at, std::string::npos) << name << " is not in the limits table";
        const std::size_t row = document.rfind('\n', at) + 1;
        const std::string line = document.substr(row, document.find('\n', at) - row);
        const std::size_t cell = line.find('|', 1) + 1;
        EXPECT_EQ(std::stoull(line.substr(cell)), value) << line;
    }
}

} // namespace
} // namespace tiv
