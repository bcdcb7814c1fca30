#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

#include "log/activity_log.h"
#include "net/box/parcel_box.h"
#include "net/box/parcel_names.h"
#include "net/box/parcel_policy.h"
#include "net/box/parcel_temporaries.h"
#include "net/single_file/receiver_receipts.h"
#include "net/socket/connection_io.h"
#include "net/socket/socket_link.h"
#include "net/stream/parcel_link.h"
#include "net/stream/stream_receiving.h"
#include "net/transfer/received_file.h"
#include "net/transfer/socket_thread.h"
#include "net/transfer/transfer_bodies.h"
#include "settings/qvl_settings_data.h"

namespace tiv {

namespace {
// An early failure: the connection is reset at once, so the sender learns of it and nothing waits on it.
void fail_early(socket_thread& transfer, transfer_status status) {
    transfer.abort_connection();
    end_transfer(transfer, "R", transfer_outcome::early_failure(status));
}

// Receives and decrypts the record; false when it did not arrive whole or does not decrypt to one record.
bool receive_record(socket_thread& transfer, transfer_buffers& buffers, file_record& record) {
    const std::size_t length = transfer.authenticator->encrypted_length(file_record::size);
    if (length == 0 || length > buffers.wire.size()) {
        return false;
    }
    if (!receive_all(*transfer.socket, static_cast<int>(length), buffers.wire.data())) {
        return false;
    }
    buffers.plain.clear();
    if (!transfer.authenticator->decrypt(std::span(buffers.wire.data(), length), true, buffers.plain) ||
        buffers.plain.size() != file_record::size) {
        return false;
    }
    record =
        file_record::decode(std::span<const std::uint8_t, file_record::size>(buffers.plain.data(), file_record::size));
    return true;
}

// Decrypts the stream into the open file until the sender's end, the stream breaks or the transfer stops, and
// says which in `arrived`; the plaintext count is the transfer's bytes done.
void receive_data(socket_thread& transfer, transfer_buffers& buffers, std::size_t chunk, received_file& arrived) {
    authentycryptor& cipher = *transfer.authenticator;
    const std::uint32_t limit = transfer.profile.max_file_size;
    arrived.arrived = 0;
    for (;;) {
        if (transfer.stop_requested()) {
            arrived.end = data_end::stopped;
            return;
        }
        const status_or<int, sys_status> got =
            receive_some(*transfer.socket, buffers.wire.data(), static_cast<int>(chunk));
        if (!got) {
            arrived.end = data_end::cut;
            return;
        }
        const int received = got.value();
        buffers.plain.clear();
        // The sender's end of stream completes the message: the last block comes out only now, and a cut or
        // tampered stream shows here as a bad completion.
        const bool last = received == 0;
        if (!cipher.decrypt(std::span(buffers.wire.data(), static_cast<std::size_t>(received)), last, buffers.plain)) {
            arrived.end = data_end::cut;
            return;
        }
        arrived.arrived += buffers.plain.size();
        if (limit != unlimited && arrived.arrived > limit) {
            log_activity("R::Parcel refused [%s][%s]: more data than the maximum of %u bytes arrived",
                         transfer.profile.name, arrived.shown_name.c_str(), limit);
            arrived.end = data_end::over_limit;
            return;
        }
        if (!transfer.file.write_all(buffers.plain.data(), buffers.plain.size())) {
            arrived.write_error = errno;
            arrived.end = data_end::write_failed;
            return;
        }
        transfer.set_bytes_done(arrived.arrived);
        if (last) {
            arrived.end = data_end::whole;
            return;
        }
    }
}

// The friend's box is one directory right below the root (the file's directory); any other value could store
// parcels anywhere.
std::string parcel_box_of(const socket_thread& transfer) {
    const std::string_view box_name(
        transfer.profile.receipt_directory,
        ::strnlen(transfer.profile.receipt_directory, sizeof transfer.profile.receipt_directory));
    return is_plain_component(box_name) ? transfer.file.directory + "/" + std::string(box_name) : std::string();
}

// Why nothing can be stored in the friend's box, as the sender is told; none when the box is ready. `parcel` is
// what arrived first, for the log.
std::optional<parcel_receipt> parcel_box_refusal(socket_thread& transfer, const std::string& parcel_box,
                                                 const char* parcel) {
    if (parcel_box.empty()) {
        log_activity("R::Parcel refused [%s][%s]: the ReceiptDirectory [%.*s] is not one plain directory name",
                     transfer.profile.name, parcel, static_cast<int>(sizeof transfer.profile.receipt_directory),
                     transfer.profile.receipt_directory);
        return refusal_receipt(receipt_reason::write_failed, transfer_status::refused,
                               "the receiver's parcel box for this sender is not usable");
    }
    if (const std::optional<std::string> refused = prepare_parcel_box(transfer.file.directory, parcel_box)) {
        log_activity("%x: R: PARCEL BOX REFUSED[%s]: %s", transfer.log_handle(), transfer.profile.name,
                     refused->c_str());
        return refusal_receipt(receipt_reason::write_failed, transfer_status::file_open,
                               "the receiver's parcel box for you cannot be used");
    }
    return std::nullopt;
}

// Until the peer has proved who it is, the connection costs us and proves nothing: the exchange gets a deadline of
// its own, far shorter than the time-out a known friend's slow link deserves. It is ample for the largest keys.
int authentication_time_limit(int io_timeout_ms) {
    constexpr int authentication_limit_ms = 5000;
    return std::min(io_timeout_ms, authentication_limit_ms);
}

bool too_many_transfers(socket_thread& transfer) {
    log_activity("%x: R: TOO MANY TRANSFERS [%s]", transfer.log_handle(), transfer.profile.name);
    fail_early(transfer, transfer_status::refused);
    return false;
}

// Authenticates the sender within the deadline a stranger gets, then asks whether it may go on and, unless its
// connection may carry a login check or a message instead of parcels, takes its turn; false when the transfer ended
// here.
bool admit_sender(socket_thread& transfer, const receiving_hooks& hooks) {
    (void)set_send_timeout(*transfer.socket, transfer.io_timeout_ms);
    (void)set_receive_timeout(*transfer.socket, transfer.io_timeout_ms);

    set_receive_deadline(*transfer.socket, authentication_time_limit(transfer.io_timeout_ms));
    transfer.set_state(transfer_state::authenticating);
    socket_link link(*transfer.socket);
    if (!transfer.authenticator->AuthenticateAsReceiver(link, transfer.profile)) {
        fail_early(transfer, transfer_status::authentication);
        return false;
    }
    const bool may_converse = transfer.authenticator->carries_conversation();
    // Unlisted before it is named, so no window ever shows a friend's login check as a transfer.
    transfer.set_listed(!may_converse);
    transfer.set_peer_name(transfer.profile.name);
    if (hooks.known && !hooks.known()) {
        return too_many_transfers(transfer);
    }
    if (!may_converse) {
        held_log_lines::release();
        if (hooks.slot && !hooks.slot()) {
            return too_many_transfers(transfer);
        }
    }
    // The file record is all that is left before the data; one time-out is its due.
    set_receive_deadline(*transfer.socket, transfer.io_timeout_ms);
    return true;
}

void receive_stream(socket_thread& transfer, box_ledger& ledger, const receiving_hooks& hooks) {
    set_receive_deadline(*transfer.socket, 0);
    transfer.set_state(transfer_state::verifying_permissions);
    const std::string parcel_box = parcel_box_of(transfer);
    parcel_link link(*transfer.socket, *transfer.authenticator);
    // The turn was taken already unless the connection may converse instead.
    const stream_hooks stream{.first_parcel = transfer.authenticator->carries_conversation() ? hooks.slot : nullptr,
                              .messages = hooks.messages};
    run_stream_receiving(
        transfer, link, parcel_box,
        [&](const std::string& parcel) { return parcel_box_refusal(transfer, parcel_box, parcel.c_str()); }, ledger,
        transfer.keep_broken_parts, stream);
}

// The buffers for the data, then the record that names the file; false when the transfer ended here.
bool take_record(socket_thread& transfer, transfer_buffers& buffers, std::size_t chunk, file_record& record) {
    try {
        buffers.wire.resize(std::max(chunk, transfer.authenticator->encrypted_length(file_record::size)));
        buffers.plain.reserve(chunk + 64);
    } catch (const std::bad_alloc&) {
        fail_early(transfer, transfer_status::memory);
        log_activity("%x: R: MEMALLOC_ERROR[%s]", transfer.log_handle(), record.file_name);
        return false;
    }
    transfer.set_state(transfer_state::getting_file_record);
    if (!receive_record(transfer, buffers, record)) {
        fail_early(transfer, transfer_status::receive);
        log_activity("%x: R:  STATUS_ERROR [%d]", transfer.log_handle(), number_of(transfer_status::receive));
        return false;
    }
    set_receive_deadline(*transfer.socket, 0);
    transfer.set_record(record, record.file_size);
    return true;
}

// Whether the friend's box takes the file: the name it is to be stored under, its place in the friend's count
// held in `slot`; none when it was refused (the transfer then ended here).
std::optional<std::string> admit_file(socket_thread& transfer, box_ledger& ledger, const std::string& parcel_box,
                                      const file_record& record, box_ledger::reservation& slot) {
    if (const std::optional<parcel_receipt> refused = parcel_box_refusal(transfer, parcel_box, record.file_name)) {
        refuse_early(transfer, *refused);
        return std::nullopt;
    }
    const std::optional<std::string> name = parcel_file_name(record.file_name);
    if (!name) {
        log_activity("R::Parcel refused [%s][%s]: the name does not name a file", transfer.profile.name,
                     record.file_name);
        refuse_early(transfer, refusal_receipt(receipt_reason::name_refused, transfer_status::refused));
        return std::nullopt;
    }
    if (const std::optional<parcel_receipt> refused =
            parcel_refusal(transfer.profile, ledger, parcel_box, record.file_size, 1, slot)) {
        log_activity("R::Parcel refused [%s][%s]: %s", transfer.profile.name, name->c_str(), refused->text.c_str());
        refuse_early(transfer, *refused);
        return std::nullopt;
    }
    return name;
}

// The data into the open temporary, then what becomes of it: given its name by `give_name` when it may be kept.
transfer_outcome receive_file_data(socket_thread& transfer, transfer_buffers& buffers, std::size_t chunk,
                                   const file_record& record,
                                   const std::function<std::optional<std::string>()>& give_name) {
    transfer.set_state(transfer_state::running);
    received_file arrived{.announced = record.file_size,
                          .announced_low_32_bits = true,
                          .size_limit = transfer.profile.max_file_size,
                          .log_handle = transfer.log_handle(),
                          .shown_name = record.file_name};
    receive_data(transfer, buffers, chunk, arrived);
    transfer.set_state(transfer_state::shutting_down);
    arrived.written = transfer.file.size;
    arrived.closed = transfer.file.close_file();
    if (!arrived.closed) {
        arrived.write_error = errno;
    }
    if (transfer.stop_requested()) {
        arrived.end = data_end::stopped;
    }
    return received_file_outcome(arrived, give_name);
}

// A file sent alone, the old way: its record, the box's and the friend's limits, then its data into a temporary
// that takes the file's name only once whole.
void receive_single_file(socket_thread& transfer, box_ledger& ledger) {
    const unsigned handle = transfer.log_handle();
    file_record record = transfer.record();
    const std::size_t chunk = std::max(
        transfer_chunk_size(transfer.io_block_size, transfer.authenticator->block_allowance()), least_receive_size);
    transfer_buffers buffers;
    if (!take_record(transfer, buffers, chunk, record)) {
        return;
    }
    transfer.set_state(transfer_state::verifying_permissions);
    const std::string parcel_box = parcel_box_of(transfer);
    // Held until the file is stored, so parallel connections cannot pass the friend's count together.
    box_ledger::reservation slot;
    const std::optional<std::string> name = admit_file(transfer, ledger, parcel_box, record, slot);
    if (!name) {
        return;
    }
    transfer.set_state(transfer_state::opening_write_file);
    transfer.file.directory = parcel_box;
    temporary_parcel_claim claim;
    if (!claim.create(transfer.file)) {
        fail_early(transfer, transfer_status::file_open);
        log_activity("%x: R: OPENFAILURE[%s]", handle, record.file_name);
        return;
    }
    const std::string temporary = transfer.file.path;
    const transfer_outcome outcome = receive_file_data(
        transfer, buffers, chunk, record, [&] { return move_without_replacing(temporary, parcel_box, *name); });
    if (!outcome.failed()) {
        slot.stored();
        transfer.set_stored_path(outcome.stored_path);
    } else {
        ::unlink(temporary.c_str());
        log_activity("%x: R:  STATUS_ERROR [%d]", handle, number_of(*outcome.status));
        if (outcome.receipt && !outcome.receipt->text.empty()) {
            log_activity("%x: R: NOT KEPT[%s]: %s", handle, record.file_name, outcome.receipt->text.c_str());
        }
    }
    answer_sender(transfer, outcome.receipt, outcome.status);
    end_transfer(transfer, "R", outcome);
}
} // namespace

void run_receiving_body(socket_thread& transfer, box_ledger& ledger, const receiving_hooks& hooks) {
    transfer.begin();
    if (!admit_sender(transfer, hooks)) {
        return;
    }
    if (transfer.authenticator->carries_parcel_stream()) {
        receive_stream(transfer, ledger, hooks);
    } else {
        receive_single_file(transfer, ledger);
    }
}

} // namespace tiv
