#include <ctime>
#include <new>
#include <span>

#include "log/activity_log.h"
#include "net/connection_io.h"
#include "net/socket_link.h"
#include "net/socket_thread.h"
#include "net/transfer_bodies.h"

namespace tiv {

namespace {
void fail_early(socket_thread& transfer, int status) {
    (void)transfer.file.close_file();
    transfer.abort_connection();
    transfer.status_code = status;
    transfer.failed = 1;
}

bool send_bytes(socket_thread& transfer, const std::vector<std::uint8_t>& bytes) {
    return bytes.empty() ||
           send_all(*transfer.socket, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
}

// Sends the record and the file as one message; the status of the first failure, or -1 when all went out.
int send_parcel(socket_thread& transfer, const file_record& record, transfer_buffers& buffers, std::size_t chunk) {
    authentycryptor& cipher = *transfer.authenticator;
    transfer.state = SENDING_FILE_RECORD;
    const auto header = record.encode();
    if (!cipher.encrypt(header, true, buffers.wire) || !send_bytes(transfer, buffers.wire)) {
        return status_send;
    }
    transfer.state = RUNNING;
    for (;;) {
        if (transfer.stop_requested) {
            return status_stopped;
        }
        const std::int64_t n = transfer.file.read_chunk(buffers.plain.data(), chunk);
        if (n < 0) {
            return status_stopped;
        }
        buffers.wire.clear();
        // The end of the file completes the message: its last block and padding go out too.
        const bool last = n == 0;
        if (!cipher.encrypt(std::span(buffers.plain.data(), static_cast<std::size_t>(n)), last, buffers.wire) ||
            !send_bytes(transfer, buffers.wire)) {
            return status_send;
        }
        if (last) {
            return -1;
        }
        transfer.bytes_transferred += static_cast<std::uint64_t>(n);
    }
}
} // namespace

void run_sending_body(socket_thread& transfer) {
    const unsigned handle = static_cast<unsigned>(transfer.thread_handle.load());
    transfer.state = INITIALIZING;
    transfer.start_time = static_cast<std::int64_t>(std::time(nullptr));

    file_record record = transfer.record();
    transfer.state = OPENING_READ_FILE;
    if (!transfer.file.open_file(record.file_name, transfer_file::reading)) {
        fail_early(transfer, status_file_open);
        log_activity("%x: S: OPENFILE_ERROR[%s]", handle, record.file_name);
        return;
    }
    record.file_size = static_cast<std::uint32_t>(transfer.file.size);
    transfer.set_record(record);
    transfer.set_file_size(transfer.file.size);

    transfer.state = CREATING_SOCKET;
    if (!transfer.create_socket()) {
        fail_early(transfer, status_socket);
        log_activity("%x: S: socket creation FAILURE", handle);
        return;
    }
    (void)set_send_timeout(*transfer.socket, transfer.io_timeout_ms);
    (void)set_receive_timeout(*transfer.socket, transfer.io_timeout_ms);

    transfer.state = CONNECTING_TO_DESTINATION;
    if (transfer.stop_requested || !connect_socket(*transfer.socket, transfer.peer_address)) {
        fail_early(transfer, status_connect);
        log_activity("%x S: socket ConnectTo FAILURE", handle);
        return;
    }

    transfer.state = AUTHENTICATING;
    socket_link link(*transfer.socket);
    if (!transfer.authenticator->AuthenticateAsSender(link, transfer.profile)) {
        fail_early(transfer, status_authentication);
        log_activity("%x: S: ATHENTICATION FAILURE", handle);
        return;
    }

    // The file is read in large pieces whatever the block size: the stream has no piece boundaries, and fewer
    // reads and sends per byte are most of what separates a transfer from a plain copy.
    const std::size_t chunk = std::max(
        transfer_chunk_size(transfer.io_block_size, transfer.authenticator->block_allowance()), least_receive_size);
    transfer_buffers buffers;
    try {
        buffers.plain.resize(chunk);
        buffers.wire.reserve(chunk + 64);
    } catch (const std::bad_alloc&) {
        fail_early(transfer, status_memory);
        log_activity("SocketWritingThread %x MEMALLOC_ERROR[%s]\n", handle, record.file_name);
        return;
    }

    int status = send_parcel(transfer, record, buffers, chunk);
    transfer.state = SHUTTING_DOWN;
    (void)transfer.file.close_file();
    if (status < 0) {
        // The receiver ends in good order only once it has stored the whole file; anything else is a failure.
        const peer_ending ending = transfer.close_connection();
        if (transfer.stop_requested) {
            status = status_stopped;
        } else if (ending != peer_ending::closed) {
            status = status_send;
        }
    } else {
        transfer.abort_connection();
    }
    if (status >= 0) {
        transfer.status_code = status;
        transfer.failed = 1;
        log_activity("%x: S:  STATUS_ERROR [%d]", handle, status);
    }
    complete_transfer(transfer, "S");
}

} // namespace tiv
