#include "net/stream/stream_sending.h"

#include <algorithm>
#include <cerrno>
#include <optional>

#include "log/activity_log.h"
#include "net/stream/stream_answers.h"
#include "net/transfer/receipt_exchange.h"
#include "net/transfer/socket_thread.h"
#include "platform/sha256_stream.h"

namespace tiv {

namespace {
stream_item_outcome broken_link(int status, std::string words = {}) {
    return {.ended = transfer_outcome::failure(status, std::move(words)), .link_sound = false};
}

std::string silent_receiver_words(const socket_thread& transfer, int wait_ms) {
    return "time-out: " + endpoint_text(transfer.peer_address) + " did not answer within " +
           std::to_string(wait_ms / 1000) + " s";
}

// An answer that ends the file: stored, refused with the receiver's reason, or a connection that can carry no more.
stream_item_outcome from_answer(const socket_thread& transfer, const stream_answers::answer& answer, int wait_ms) {
    switch (answer.what) {
    case stream_answers::kind::stored:
        return {};
    case stream_answers::kind::refused: {
        stream_item_outcome refused{.ended = transfer_outcome::failure(status_refused, receipt_words(answer.receipt))};
        refused.ended.receipt = answer.receipt;
        return refused;
    }
    case stream_answers::kind::timed_out:
        return broken_link(status_send, silent_receiver_words(transfer, wait_ms));
    case stream_answers::kind::ended:
        return broken_link(status_send, "the receiver ended the connection before it answered");
    case stream_answers::kind::out_of_turn: {
        stream_item_outcome lied = broken_link(status_send, out_of_turn_words);
        lied.out_of_turn = true;
        return lied;
    }
    case stream_answers::kind::none:
    case stream_answers::kind::offer:
    case stream_answers::kind::malformed:
        break;
    }
    return broken_link(status_send, "the receiver's answer was malformed");
}

// Whether the first `length` bytes of the file hash to `expected`; the hasher then holds them, and the file is
// read that far. Any read failure is a mismatch: the file is then sent whole.
bool same_prefix(transfer_file& file, std::uint64_t length, const frame_digest& expected,
                 cryptoapi::sha256_stream& hash, std::vector<std::uint8_t>& buffer) {
    std::uint64_t left = length;
    while (left > 0) {
        const std::int64_t n = file.read_chunk(buffer.data(), std::min<std::uint64_t>(left, buffer.size()));
        if (n <= 0) {
            return false;
        }
        hash.update(std::span(buffer.data(), static_cast<std::size_t>(n)));
        left -= static_cast<std::uint64_t>(n);
    }
    cryptoapi::sha256_stream copy = hash.copy();
    return copy.ok() && copy.finish() == expected;
}

// The file from its start, after a kept part that did not match.
bool rewind(transfer_file& file, cryptoapi::sha256_stream& hash) {
    hash = cryptoapi::sha256_stream();
    return file.seek_to(0);
}
} // namespace

int receipt_wait_ms(int io_timeout_ms) {
    return std::max(io_timeout_ms, 1000) * finishing_quiet_periods;
}

stream_item_outcome send_stream_file(socket_thread& transfer, parcel_link& link, stream_answers& answers,
                                     const std::string& path, std::int64_t mtime_ns, std::size_t chunk) {
    transfer_file& file = transfer.file;
    const int wait_ms = receipt_wait_ms(transfer.io_timeout_ms);
    // Nothing is owed before the file goes out: whatever already came is an answer too many for an earlier one.
    if (const stream_answers::answer early = answers.next(0); early.what != stream_answers::kind::none) {
        return from_answer(transfer, early, wait_ms);
    }
    const file_frame header{
        .path = path, .size = file.size, .mtime_ns = mtime_ns, .resumable = file.size >= resume_threshold};
    transfer.set_state(SENDING_FILE_RECORD);
    std::vector<std::uint8_t> plain;
    plain.reserve(chunk + 2 * frame_header_size + 64);
    append_frame(plain, frame_type::file, encode_file(header));
    answers.file_started(header.resumable);

    std::optional<cryptoapi::sha256_stream> whole;
    std::uint64_t from = 0;
    if (header.resumable) {
        if (!link.send(plain)) {
            return broken_link(status_send);
        }
        plain.clear();
        const stream_answers::answer answer = answers.next(wait_ms);
        if (answer.what != stream_answers::kind::offer) {
            return from_answer(transfer, answer, wait_ms); // refused before any data, or a broken link
        }
        const offer_frame& offer = answer.offer;
        if (offer.kept > 0 && offer.kept <= file.size) {
            std::vector<std::uint8_t> buffer(chunk);
            cryptoapi::sha256_stream hash;
            if (same_prefix(file, offer.kept, offer.hash, hash, buffer)) {
                from = offer.kept;
                whole.emplace(std::move(hash));
                log_activity("%x: S: RESUMING[%s] at %llu of %llu bytes", transfer.log_handle(), path.c_str(),
                             static_cast<unsigned long long>(from), static_cast<unsigned long long>(file.size));
            } else {
                log_activity("%x: S: KEPT PART DIFFERS[%s]: sending the whole file", transfer.log_handle(),
                             path.c_str());
                if (!rewind(file, hash)) {
                    return broken_link(status_stopped, "the file could not be read again from its start");
                }
            }
        }
        append_frame(plain, frame_type::resume, encode_resume(from));
    }

    transfer.set_state(RUNNING);
    std::uint64_t sent = from;
    transfer.set_bytes_done(sent);
    bool complete = false;
    for (;;) {
        if (transfer.stop_requested()) {
            break;
        }
        // A receiver that refuses while the data still comes says so at once; the rest need not be sent.
        const stream_answers::answer early = answers.next(0);
        if (early.what == stream_answers::kind::refused) {
            append_frame(plain, frame_type::file_end, encode_file_end({}));
            answers.item_ended();
            stream_item_outcome refused = from_answer(transfer, early, wait_ms);
            refused.link_sound = link.send(plain);
            return refused;
        }
        if (early.what != stream_answers::kind::none) {
            return from_answer(transfer, early, wait_ms);
        }
        const std::size_t at = plain.size();
        plain.resize(at + frame_header_size + chunk);
        const std::int64_t n = file.read_chunk(plain.data() + at + frame_header_size, chunk);
        if (n <= 0) {
            plain.resize(at);
            complete = n == 0;
            break;
        }
        put_frame_header(plain.data() + at, frame_type::data, static_cast<std::size_t>(n));
        plain.resize(at + frame_header_size + static_cast<std::size_t>(n));
        if (whole) {
            whole->update(std::span(plain.data() + at + frame_header_size, static_cast<std::size_t>(n)));
        }
        // Small files share one send with their header and end; a large one goes out piece by piece.
        if (plain.size() >= chunk) {
            if (!link.send(plain)) {
                return broken_link(status_send);
            }
            plain.clear();
        }
        sent += static_cast<std::uint64_t>(n);
        transfer.set_bytes_done(sent);
    }
    file_end_frame end{.complete = complete, .whole_hash = std::nullopt};
    if (complete && whole) {
        if (!whole->ok()) {
            return broken_link(status_memory);
        }
        end.whole_hash = whole->finish();
    }
    append_frame(plain, frame_type::file_end, encode_file_end(end));
    if (!link.send(plain)) {
        return broken_link(status_send);
    }
    answers.item_ended();
    transfer.set_state(SHUTTING_DOWN);
    stream_item_outcome outcome = from_answer(transfer, answers.next(wait_ms), wait_ms);
    outcome.resumed_from = from;
    if (!complete && outcome.link_sound) {
        // The receiver refuses what the sender abandoned; the sender's own reason is the one to show.
        return {.ended = transfer_outcome::failure(status_stopped), .link_sound = true, .resumed_from = from};
    }
    return outcome;
}

bool end_stream(parcel_link& link, int wait_ms) {
    if (!link.send_frame(frame_type::end, {}) || !link.close_stream()) {
        return false;
    }
    frame_type type{};
    std::span<const std::uint8_t> payload;
    return link.receive(type, payload, wait_ms) == parcel_link::arrival::closed;
}

} // namespace tiv
