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
stream_item_outcome broken_link(transfer_status status, std::string words = {}) {
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
        stream_item_outcome refused{
            .ended = transfer_outcome::failure(transfer_status::refused, receipt_words(answer.receipt))};
        refused.ended.receipt = answer.receipt;
        return refused;
    }
    case stream_answers::kind::timed_out:
        return broken_link(transfer_status::send, silent_receiver_words(transfer, wait_ms));
    case stream_answers::kind::ended:
        return broken_link(transfer_status::send, "the receiver ended the connection before it answered");
    case stream_answers::kind::out_of_turn: {
        stream_item_outcome lied = broken_link(transfer_status::send, out_of_turn_words);
        lied.out_of_turn = true;
        return lied;
    }
    case stream_answers::kind::none:
    case stream_answers::kind::offer:
    case stream_answers::kind::malformed:
        break;
    }
    return broken_link(transfer_status::send, "the receiver's answer was malformed");
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

// One file's frames in the stream: its header, where its data starts (agreed with the receiver for a large file),
// its data and its end. The frames gather in one buffer, so a small file goes out in one send with its header and
// end; a large one goes out piece by piece. Answers owed to earlier files may come meanwhile; they go to their own.
class stream_file_sender {
public:
    stream_file_sender(socket_thread& transfer, parcel_link& link, stream_answers& answers, std::size_t chunk,
                       const earlier_answers& earlier)
        : m_oTransfer(transfer), m_oLink(link), m_oAnswers(answers), m_fEarlier(earlier), m_nChunk(chunk),
          m_nWaitMs(receipt_wait_ms(transfer.io_timeout_ms)) {}

    stream_file_progress send(const std::string& path, std::int64_t mtime_ns);

private:
    // Each step returns none when the file goes on, else how it ended.
    // Asks the receiver what it kept of the file, and starts after it when the file begins with the same bytes.
    std::optional<stream_item_outcome> agree_on_start(const std::string& path);
    // The data from the agreed start, until the end of the file (m_bComplete) or a stop.
    std::optional<stream_item_outcome> send_data();
    // Adds the next piece of the file as a data frame: its length, 0 at the end, negative when it cannot be read.
    std::int64_t add_piece();
    // The file's end, after the data went out whole or not.
    std::optional<stream_item_outcome> finish();
    // The next answer owed to this file, handing those owed to earlier files on; `none` when none came in time.
    stream_answers::answer next_own(int wait_ms);

    socket_thread& m_oTransfer;
    parcel_link& m_oLink;
    stream_answers& m_oAnswers;
    const earlier_answers& m_fEarlier;
    const std::size_t m_nChunk;
    const int m_nWaitMs;
    std::uint64_t m_nItem = 0;
    byte_buffer m_aPlain;                             // frames not yet sent
    std::optional<cryptoapi::sha256_stream> m_oWhole; // over the whole file, when it continues a kept part
    std::uint64_t m_nFrom = 0;                        // where the data starts
    std::uint64_t m_nSent = 0;                        // data bytes sent
    bool m_bComplete = false;                         // the file was read to its end
};

stream_answers::answer stream_file_sender::next_own(int wait_ms) {
    for (;;) {
        stream_answers::answer answer = m_oAnswers.next(wait_ms);
        const bool settles_earlier =
            (answer.what == stream_answers::kind::stored || answer.what == stream_answers::kind::refused) &&
            answer.item != m_nItem;
        if (!settles_earlier) {
            return answer;
        }
        m_fEarlier(answer);
    }
}

stream_file_progress stream_file_sender::send(const std::string& path, std::int64_t mtime_ns) {
    const transfer_file& file = m_oTransfer.file;
    const file_frame header{
        .path = path, .size = file.size, .mtime_ns = mtime_ns, .resumable = file.size >= resume_threshold};
    m_oTransfer.set_state(transfer_state::sending_file_record);
    m_aPlain.reserve(m_nChunk + 2 * frame_header_size + 64);
    append_frame(m_aPlain, frame_type::file, encode_file(header));
    m_nItem = m_oAnswers.file_started(header.resumable);
    std::optional<stream_item_outcome> ended;
    if (header.resumable) {
        ended = agree_on_start(path);
    }
    if (!ended) {
        ended = send_data();
    }
    if (!ended) {
        ended = finish();
    }
    if (ended) {
        ended->resumed_from = m_nFrom;
    }
    return {.ended = std::move(ended),
            .sent = {.item = m_nItem, .resumed_from = m_nFrom, .data_bytes = m_nSent, .complete = m_bComplete}};
}

std::optional<stream_item_outcome> stream_file_sender::agree_on_start(const std::string& path) {
    if (!m_oLink.send(m_aPlain)) {
        return broken_link(transfer_status::send);
    }
    m_aPlain.clear();
    const stream_answers::answer answer = next_own(m_nWaitMs);
    if (answer.what != stream_answers::kind::offer) {
        return from_answer(m_oTransfer, answer, m_nWaitMs); // refused before any data, or a broken link
    }
    const offer_frame& offer = answer.offer;
    transfer_file& file = m_oTransfer.file;
    if (offer.kept > 0 && offer.kept <= file.size) {
        std::vector<std::uint8_t> buffer(m_nChunk);
        cryptoapi::sha256_stream hash;
        if (same_prefix(file, offer.kept, offer.hash, hash, buffer)) {
            m_nFrom = offer.kept;
            m_oTransfer.set_resumed_from(m_nFrom);
            m_oWhole.emplace(std::move(hash));
            log_activity("%x: S: RESUMING[%s] at %llu of %llu bytes", m_oTransfer.log_handle(), path.c_str(),
                         static_cast<unsigned long long>(m_nFrom), static_cast<unsigned long long>(file.size));
        } else {
            log_activity("%x: S: KEPT PART DIFFERS[%s]: sending the whole file", m_oTransfer.log_handle(),
                         path.c_str());
            if (!rewind(file, hash)) {
                return broken_link(transfer_status::stopped, "the file could not be read again from its start");
            }
        }
    }
    append_frame(m_aPlain, frame_type::resume, encode_resume(m_nFrom));
    return std::nullopt;
}

std::optional<stream_item_outcome> stream_file_sender::send_data() {
    m_oTransfer.set_state(transfer_state::running);
    std::uint64_t done = m_nFrom;
    m_oTransfer.set_bytes_done(done);
    while (!m_oTransfer.stop_requested()) {
        // A receiver that refuses while the data still comes says so at once; the rest need not be sent.
        const stream_answers::answer early = next_own(0);
        if (early.what == stream_answers::kind::refused) {
            append_frame(m_aPlain, frame_type::file_end, encode_file_end({}));
            m_oAnswers.file_ended();
            stream_item_outcome refused = from_answer(m_oTransfer, early, m_nWaitMs);
            refused.link_sound = m_oLink.send(m_aPlain);
            return refused;
        }
        if (early.what != stream_answers::kind::none) {
            return from_answer(m_oTransfer, early, m_nWaitMs);
        }
        const std::int64_t n = add_piece();
        if (n <= 0) {
            m_bComplete = n == 0;
            return std::nullopt;
        }
        if (m_aPlain.size() >= m_nChunk) {
            if (!m_oLink.send(m_aPlain)) {
                return broken_link(transfer_status::send);
            }
            m_aPlain.clear();
        }
        done += static_cast<std::uint64_t>(n);
        m_nSent += static_cast<std::uint64_t>(n);
        m_oTransfer.set_bytes_done(done);
    }
    return std::nullopt;
}

std::int64_t stream_file_sender::add_piece() {
    const std::size_t at = m_aPlain.size();
    m_aPlain.resize(at + frame_header_size + m_nChunk);
    std::uint8_t* const data = m_aPlain.data() + at + frame_header_size;
    const std::int64_t n = m_oTransfer.file.read_chunk(data, m_nChunk);
    if (n <= 0) {
        m_aPlain.resize(at);
        return n;
    }
    put_frame_header(m_aPlain.data() + at, frame_type::data, static_cast<std::size_t>(n));
    m_aPlain.resize(at + frame_header_size + static_cast<std::size_t>(n));
    if (m_oWhole) {
        m_oWhole->update(std::span(data, static_cast<std::size_t>(n)));
    }
    return n;
}

std::optional<stream_item_outcome> stream_file_sender::finish() {
    file_end_frame end{.complete = m_bComplete, .whole_hash = std::nullopt};
    if (m_bComplete && m_oWhole) {
        if (!m_oWhole->ok()) {
            return broken_link(transfer_status::memory);
        }
        end.whole_hash = m_oWhole->finish();
    }
    append_frame(m_aPlain, frame_type::file_end, encode_file_end(end));
    if (!m_oLink.send(m_aPlain)) {
        return broken_link(transfer_status::send);
    }
    m_oAnswers.file_ended();
    m_oTransfer.set_state(transfer_state::shutting_down);
    return std::nullopt;
}
} // namespace

int receipt_wait_ms(int io_timeout_ms) {
    return std::max(io_timeout_ms, 1000) * finishing_quiet_periods;
}

stream_file_progress send_stream_file(socket_thread& transfer, parcel_link& link, stream_answers& answers,
                                      const std::string& path, std::int64_t mtime_ns, std::size_t chunk,
                                      const earlier_answers& earlier) {
    return stream_file_sender(transfer, link, answers, chunk, earlier).send(path, mtime_ns);
}

stream_item_outcome stream_verdict(const socket_thread& transfer, const stream_file_sent& sent,
                                   const stream_answers::answer& answer) {
    stream_item_outcome outcome = from_answer(transfer, answer, receipt_wait_ms(transfer.io_timeout_ms));
    outcome.resumed_from = sent.resumed_from;
    if (!sent.complete && outcome.link_sound) {
        // The receiver refuses what the sender abandoned; the sender's own reason is the one to show.
        return {.ended = transfer_outcome::failure(transfer_status::stopped),
                .link_sound = true,
                .resumed_from = sent.resumed_from};
    }
    return outcome;
}

bool tell_whereabouts(parcel_link& link, const authentycryptor& cipher) {
    const std::optional<whereabouts> here = cipher.own_whereabouts();
    return !here || link.send_frame(frame_type::whereabouts, encode_whereabouts(*here));
}

bool end_stream(parcel_link& link) {
    return link.send_frame(frame_type::end, {}) && link.close_stream();
}

} // namespace tiv
