#include <cerrno>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <sys/socket.h>

#include "log/activity_log.h"
#include "net/single_file/sending_steps.h"
#include "net/socket/connection_io.h"
#include "net/socket/socket_link.h"
#include "net/stream/stream_sending.h"
#include "net/transfer/receipt_exchange.h"
#include "net/transfer/socket_thread.h"
#include "net/transfer/transfer_bodies.h"
#include "net/transfer/transfer_state.h"

namespace tiv {

void fail_early(socket_thread& transfer, transfer_status status, std::string words) {
    (void)transfer.file.close_file();
    transfer.abort_connection();
    end_transfer(transfer, "S", transfer_outcome::early_failure(status, std::move(words)));
}

std::string refused_exchange_words(const socket_thread& transfer) {
    const std::string name = transfer.profile.name;
    return name + " refused the exchange: if " + name + "'s keys changed, import " + name + "'s new profile";
}

transfer_outcome as_refused_exchange(const socket_thread& transfer, const authentycryptor& cipher,
                                     transfer_outcome outcome) {
    if (outcome.failed() && cipher.awaiting_peer_confirmation()) {
        return transfer_outcome::failure(transfer_status::authentication, refused_exchange_words(transfer));
    }
    return outcome;
}

namespace {

std::string duration_words(int ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// The authenticator's reason, when it has one, in the words the user sees; else a receiver that said nothing
// in time is a time-out, which is no failed proof of anything. `link_failure` is why the connection failed under
// the exchange, if it did.
std::string authentication_words(const socket_thread& transfer, const sys_status& link_failure) {
    const auth_failure failure = transfer.authenticator->last_failure();
    const std::string name = transfer.profile.name;
    const bool timed_out = link_failure.code() == ETIMEDOUT;
    if (failure == auth_failure::peer_keys_changed) {
        return name + "'s keys do not match the profile you hold: import " + name + "'s new profile";
    }
    // A receiver that stopped answering refused nothing.
    if (failure == auth_failure::exchange_refused && !timed_out) {
        return refused_exchange_words(transfer);
    }
    const std::string reason = failure == auth_failure::exchange_refused ? "" : auth_failure_reason(failure);
    if (!reason.empty()) {
        return "authentication failed: " + reason;
    }
    if (timed_out) {
        return "time-out: " + endpoint_text(transfer.peer_address) + " did not answer within " +
               duration_words(transfer.io_timeout_ms);
    }
    return {};
}

std::string connection_words(const socket_thread& transfer, const sys_status& connected) {
    if (connected.code() == ETIMEDOUT) {
        return "time-out: no connection to " + endpoint_text(transfer.peer_address) + " within " +
               duration_words(transfer.io_timeout_ms);
    }
    return connected.text();
}

bool send_bytes(socket_thread& transfer, const std::vector<std::uint8_t>& bytes) {
    return bytes.empty() || send_all(*transfer.socket, bytes.data(), static_cast<int>(bytes.size())).ok();
}

// Sends the record and the file as one message. The outcome is no failure once all went out, else the status of
// the first failure; a receiver that answered before the end leaves its receipt in `reader` and the outcome.
transfer_outcome send_parcel(socket_thread& transfer, const file_record& record, transfer_buffers& buffers,
                             std::size_t chunk, receipt_reader* reader) {
    authentycryptor& cipher = *transfer.authenticator;
    transfer.set_state(transfer_state::sending_file_record);
    const auto header = record.encode();
    if (!cipher.encrypt(header, true, buffers.wire) || !send_bytes(transfer, buffers.wire)) {
        return transfer_outcome::failure(transfer_status::send);
    }
    transfer.set_state(transfer_state::running);
    std::uint64_t sent = 0;
    for (;;) {
        if (transfer.stop_requested()) {
            return transfer_outcome::failure(transfer_status::stopped);
        }
        // A receiver that refuses while the data still comes says so at once; the rest need not be sent.
        if (reader != nullptr) {
            const peer_answer answer = read_arrived(*transfer.socket, reader, 0);
            if (answer == peer_answer::answered) {
                // Whatever it says, the file did not go out whole.
                transfer_outcome answered = transfer_outcome::failure(transfer_status::send);
                answered.receipt = reader->receipt();
                return answered;
            }
            if (answer != peer_answer::nothing) {
                return transfer_outcome::failure(transfer_status::send);
            }
        }
        const std::int64_t n = transfer.file.read_chunk(buffers.plain.data(), chunk);
        if (n < 0) {
            return transfer_outcome::failure(transfer_status::stopped);
        }
        buffers.wire.clear();
        // The end of the file completes the message: its last block and padding go out too.
        const bool last = n == 0;
        if (!cipher.encrypt(std::span(buffers.plain.data(), static_cast<std::size_t>(n)), last, buffers.wire) ||
            !send_bytes(transfer, buffers.wire)) {
            return transfer_outcome::failure(transfer_status::send);
        }
        if (last) {
            return {};
        }
        sent += static_cast<std::uint64_t>(n);
        transfer.set_bytes_done(sent);
    }
}

// Half-closes: the receiver reads the end of the stream. A half-close that fails shows in the wait for the
// receiver's answer that follows.
void end_sending(const net_socket& socket) {
    (void)::shutdown(socket.handle, SHUT_WR);
}

// A receiver that ends in good order has stored the whole file; that is all a peer without receipts can say.
transfer_outcome verdict_without_receipt(socket_thread& transfer, const transfer_outcome& sent) {
    if (sent.failed()) {
        transfer.abort_connection();
        return sent;
    }
    end_sending(*transfer.socket);
    const peer_answer ending = await_answer(*transfer.socket, nullptr, transfer.io_timeout_ms);
    if (ending == peer_answer::closed) {
        (void)transfer.close_connection();
    } else {
        transfer.abort_connection();
    }
    if (transfer.stop_requested()) {
        return transfer_outcome::failure(transfer_status::stopped);
    }
    return ending == peer_answer::closed ? transfer_outcome{} : transfer_outcome::failure(transfer_status::send);
}

// With receipts the receiver's answer decides, also one that came before a failed send: the data may have gone
// only as far as a receiver that had already refused it. Without an answer nothing counts as stored.
transfer_outcome verdict_from_receipt(socket_thread& transfer, receipt_reader& reader, const transfer_outcome& sent) {
    net_socket& socket = *transfer.socket;
    if (!sent.failed()) {
        end_sending(socket);
        (void)await_answer(socket, &reader, transfer.io_timeout_ms);
    } else if (sent.status == transfer_status::send && !sent.receipt) {
        constexpr int buffered_answer_wait_ms = 500;
        (void)read_arrived(socket, &reader, buffered_answer_wait_ms);
    }
    const std::optional<parcel_receipt>& receipt = reader.receipt();
    if (!receipt) {
        transfer.abort_connection();
        return transfer_outcome::failure(transfer.stop_requested() ? transfer_status::stopped
                                                                   : sent.status.value_or(transfer_status::send));
    }
    (void)transfer.close_connection();
    transfer_outcome verdict = receipt->stored()
                                   // Stored is only believed of a file that went out whole.
                                   ? sent
                                   : transfer_outcome::failure(transfer_status::refused, receipt_words(*receipt));
    verdict.receipt = receipt;
    return verdict;
}

// The end of a sending body that reached its data: a failure and its reason are logged first.
void finish_sending(socket_thread& transfer, const transfer_outcome& outcome) {
    if (outcome.failed()) {
        log_activity("%x: S:  STATUS_ERROR [%d]", transfer.log_handle(), number_of(*outcome.status));
        if (!outcome.words.empty()) {
            log_activity("%x: S: %s", transfer.log_handle(), outcome.words.c_str());
        }
    }
    end_transfer(transfer, "S", outcome);
}
} // namespace

bool open_source(socket_thread& transfer, file_record& record) {
    transfer.set_state(transfer_state::opening_read_file);
    if (!transfer.file.open_file(record.file_name, transfer_file::reading)) {
        const int open_error = errno;
        fail_early(transfer, transfer_status::file_open, unopenable_file_words(transfer.file.path, open_error));
        log_activity("%x: S: OPENFILE_ERROR[%s]", transfer.log_handle(), record.file_name);
        return false;
    }
    record.file_size = static_cast<std::uint32_t>(transfer.file.size);
    transfer.set_record(record, transfer.file.size);
    return true;
}

bool connect_and_authenticate(socket_thread& transfer) {
    const unsigned handle = transfer.log_handle();
    transfer.set_state(transfer_state::connecting_to_destination);
    const bool stopped = transfer.stop_requested();
    const sys_status connected = stopped ? sys_status() : transfer.connect_to_peer();
    if (stopped || !connected) {
        fail_early(transfer, transfer_status::connect,
                   transfer.stop_requested() ? std::string() : connection_words(transfer, connected));
        log_activity("%x S: socket ConnectTo FAILURE", handle);
        return false;
    }
    (void)set_send_timeout(*transfer.socket, transfer.io_timeout_ms);
    (void)set_receive_timeout(*transfer.socket, transfer.io_timeout_ms);
    log_activity("%x: S: connected to %s", handle, endpoint_text(transfer.peer_address).c_str());

    transfer.set_state(transfer_state::authenticating);
    socket_link link(*transfer.socket);
    if (!transfer.authenticator->AuthenticateAsSender(link, transfer.profile)) {
        fail_early(transfer, transfer_status::authentication, authentication_words(transfer, link.failure()));
        log_activity("%x: S: ATHENTICATION FAILURE", handle);
        return false;
    }
    return true;
}

// The file is read in large pieces whatever the block size: the stream has no piece boundaries, and fewer reads and
// sends per byte are most of what separates a transfer from a plain copy.
std::size_t sending_chunk(const socket_thread& transfer) {
    return std::max(transfer_chunk_size(transfer.io_block_size, transfer.authenticator->block_allowance()),
                    least_receive_size);
}

std::string stream_path_of(const socket_thread& transfer, const file_record& record) {
    if (!transfer.stream_path.empty()) {
        return transfer.stream_path;
    }
    // A file sent alone arrives under its last name; where it lives on the sender's disk is none of the receiver's
    // business.
    const std::string_view name(record.file_name);
    const std::size_t cut = name.find_last_of('/');
    return std::string(cut == std::string_view::npos ? name : name.substr(cut + 1));
}

void finish_stream_file(socket_thread& transfer, const stream_item_outcome& outcome) {
    (void)transfer.file.close_file();
    if (outcome.resumed_from > 0) {
        transfer.set_resumed_from(outcome.resumed_from);
    }
    finish_sending(transfer, outcome.ended);
}

void send_after_authentication(socket_thread& transfer, file_record& record) {
    const unsigned handle = transfer.log_handle();
    const std::size_t chunk = sending_chunk(transfer);
    if (transfer.authenticator->carries_parcel_stream()) {
        parcel_link link(*transfer.socket, *transfer.authenticator);
        (void)tell_whereabouts(link, *transfer.authenticator); // a broken link fails the file that follows
        stream_answers answers(link);
        // The one file of its connection: nothing is owed to any earlier one.
        const earlier_answers none_earlier = [](const stream_answers::answer&) {};
        const stream_file_progress progress = send_stream_file(
            transfer, link, answers, stream_path_of(transfer, record), transfer.file.mtime_ns, chunk, none_earlier);
        stream_item_outcome outcome =
            progress.ended
                ? *progress.ended
                : stream_verdict(transfer, progress.sent, answers.next(receipt_wait_ms(transfer.io_timeout_ms)));
        const bool in_order = outcome.link_sound && end_stream(link);
        if (in_order) {
            (void)transfer.close_connection();
        } else {
            transfer.abort_connection();
        }
        if (transfer.stop_requested() && outcome.ended.status == transfer_status::send) {
            outcome.ended.status = transfer_status::stopped;
        }
        outcome.ended = as_refused_exchange(transfer, *transfer.authenticator, std::move(outcome.ended));
        finish_stream_file(transfer, outcome);
        return;
    }

    transfer_buffers buffers;
    try {
        buffers.plain.resize(chunk);
        buffers.wire.reserve(chunk + 64);
    } catch (const std::bad_alloc&) {
        fail_early(transfer, transfer_status::memory);
        log_activity("SocketWritingThread %x MEMALLOC_ERROR[%s]", handle, record.file_name);
        return;
    }

    std::optional<receipt_reader> reader;
    if (transfer.authenticator->carries_receipts()) {
        reader.emplace(*transfer.authenticator);
    }
    const transfer_outcome sent = send_parcel(transfer, record, buffers, chunk, reader ? &*reader : nullptr);
    transfer.set_state(transfer_state::shutting_down);
    (void)transfer.file.close_file();
    finish_sending(transfer, reader ? as_refused_exchange(transfer, *transfer.authenticator,
                                                          verdict_from_receipt(transfer, *reader, sent))
                                    : verdict_without_receipt(transfer, sent));
}

void run_sending_body(socket_thread& transfer) {
    transfer.begin();
    file_record record = transfer.record();
    if (open_source(transfer, record) && connect_and_authenticate(transfer)) {
        send_after_authentication(transfer, record);
    }
}

} // namespace tiv
