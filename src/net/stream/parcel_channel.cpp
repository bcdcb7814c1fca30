#include "net/stream/parcel_channel.h"

#include <sys/socket.h>

#include "core/transfer_view.h"
#include "log/activity_log.h"
#include "net/single_file/sending_steps.h"
#include "net/socket/connection_io.h"
#include "net/stream/stream_answers.h"
#include "net/transfer/parcel_receipt.h"
#include "net/transfer/socket_thread.h"

namespace tiv {

parcel_channel::parcel_channel(std::size_t transfers, std::optional<folder_plan> folder)
    : m_oFolder(std::move(folder)), m_nLeft(transfers) {}

// The last transfer ends the connection; one that outlived its send (never started) leaves it to be reset here.
parcel_channel::~parcel_channel() {
    if (m_pSocket != nullptr && m_pSocket->handle >= 0) {
        set_abortive_close(*m_pSocket);
        close_socket(*m_pSocket);
    }
}

void parcel_channel::interrupt(const socket_thread* transfer) {
    {
        std::lock_guard guard(m_oHolderLock);
        if (m_pHolder == transfer && m_pSocket != nullptr && m_pSocket->handle >= 0) {
            ::shutdown(m_pSocket->handle, SHUT_RDWR);
        }
    }
    // A transfer waiting for its turn learns of its stop; the lock orders this after its look at the flag.
    { const std::lock_guard guard(m_oTurnLock); }
    m_oTurnFree.notify_all();
}

bool parcel_channel::take_turn(socket_thread& transfer, bool until_given) {
    {
        std::unique_lock guard(m_oTurnLock);
        // A stop wakes the wait (interrupt()).
        m_oTurnFree.wait(guard, [&] { return !m_bTurnTaken || (!until_given && transfer.stop_requested()); });
        if (m_bTurnTaken) {
            return false;
        }
        m_bTurnTaken = true;
    }
    std::lock_guard guard(m_oHolderLock);
    m_pHolder = &transfer;
    return true;
}

void parcel_channel::give_turn_back() {
    {
        std::lock_guard guard(m_oHolderLock);
        m_pHolder = nullptr;
    }
    {
        std::lock_guard guard(m_oTurnLock);
        m_bTurnTaken = false;
    }
    m_oTurnFree.notify_one();
}

void parcel_channel::refuse_all(transfer_status status, std::string words) {
    m_nState = state::refused;
    m_oRefusal = transfer_outcome::early_failure(status, std::move(words));
}

void parcel_channel::close_connection(bool in_order, int wait_ms) {
    if (m_pLink != nullptr && in_order) {
        in_order = end_stream(*m_pLink, wait_ms);
    }
    m_pAnswers.reset();
    m_pLink.reset();
    if (m_pSocket != nullptr) {
        std::lock_guard guard(m_oHolderLock);
        if (in_order) {
            (void)half_close_and_await_peer(*m_pSocket);
        } else {
            set_abortive_close(*m_pSocket);
        }
        close_socket(*m_pSocket);
        m_pSocket.reset();
    }
    m_pCipher.reset();
    if (m_nState == state::open) {
        m_nState = state::closed;
    }
}

bool parcel_channel::announce_folder(socket_thread& transfer) {
    std::vector<std::uint8_t> plain;
    append_frame(plain, frame_type::folder,
                 encode_folder({.name = m_oFolder->name,
                                .files = m_oFolder->files,
                                .directories = static_cast<std::uint32_t>(m_oFolder->directories.size()),
                                .bytes = m_oFolder->bytes}));
    for (const std::string& directory : m_oFolder->directories) {
        append_frame(plain, frame_type::directory, encode_directory(directory));
    }
    if (!m_pLink->send(plain)) {
        refuse_all(transfer_status::send, "the receiver did not answer the folder");
        return false;
    }
    m_pAnswers->item_ended();
    const stream_answers::answer answer = m_pAnswers->next(receipt_wait_ms(transfer.io_timeout_ms));
    switch (answer.what) {
    case stream_answers::kind::stored:
        break;
    case stream_answers::kind::refused:
        refuse_all(transfer_status::refused, receipt_words(answer.receipt));
        return false;
    case stream_answers::kind::out_of_turn:
        refuse_all(transfer_status::send, out_of_turn_words);
        return false;
    default:
        refuse_all(transfer_status::send, "the receiver did not answer the folder");
        return false;
    }
    log_activity("%x: S: FOLDER[%s] accepted", transfer.log_handle(), m_oFolder->name.c_str());
    return true;
}

void parcel_channel::open(socket_thread& transfer) {
    if (!connect_and_authenticate(transfer)) {
        // Every other file would meet the same: no receiver, or one that does not take us.
        const transfer_view failed = transfer.snapshot();
        refuse_all(failed.status, failed.status_text);
        return;
    }
    if (!transfer.authenticator->carries_parcel_stream()) {
        if (m_oFolder) {
            const std::string words = transfer.profile.name + std::string("'s program cannot take folders: ") +
                                      transfer.profile.name + " needs a newer version of Quorvel";
            log_activity("%x: S: FOLDER REFUSED[%s]: the receiver does not take folders", transfer.log_handle(),
                         m_oFolder->name.c_str());
            refuse_all(transfer_status::refused, words);
            fail_early(transfer, transfer_status::refused, words);
            return;
        }
        m_nState = state::old_peer;
        return;
    }
    {
        std::lock_guard guard(m_oHolderLock);
        m_pSocket = transfer.take_socket();
    }
    m_pCipher = std::move(transfer.authenticator);
    transfer.authenticator = m_pCipher->clone();
    m_pLink = std::make_unique<parcel_link>(*m_pSocket, *m_pCipher);
    m_pAnswers = std::make_unique<stream_answers>(*m_pLink);
    m_nState = state::open;
    if (m_oFolder && !announce_folder(transfer)) {
        close_connection(true, receipt_wait_ms(transfer.io_timeout_ms));
    }
}

void parcel_channel::send(socket_thread& transfer) {
    transfer.begin();
    if (!take_turn(transfer)) {
        transfer.end(transfer_outcome::early_failure(transfer_status::stopped));
        // Still counted: the last of the send ends the connection in good order, stopped or not.
        (void)take_turn(transfer, true);
        leave(transfer);
        return;
    }
    file_record record = transfer.record();
    prepare(transfer, record);
    // A transfer that ended already (its file unreadable, or sent to an older receiver) has only to leave.
    if (!transfer.snapshot().finished) {
        switch (m_nState) {
        case state::refused:
            fail_early(transfer, *m_oRefusal.status, m_oRefusal.words);
            break;
        case state::old_peer:
            send_alone(transfer, record);
            break;
        case state::open:
            send_over_stream(transfer, record);
            break;
        case state::closed:
            break; // no connection was opened for it
        }
    }
    leave(transfer);
}

void parcel_channel::prepare(socket_thread& transfer, file_record& record) {
    if (m_nState == state::open) {
        (void)open_source(transfer, record);
        return;
    }
    // The file is opened first: one that cannot be read fails on its own, without a connection for nothing.
    if (m_nState != state::closed || !open_source(transfer, record)) {
        return;
    }
    open(transfer);
    if (m_nState == state::old_peer) {
        // This connection is already authenticated: the file goes over it the old way.
        send_after_authentication(transfer, record);
    }
}

void parcel_channel::send_over_stream(socket_thread& transfer, const file_record& record) {
    stream_item_outcome outcome = send_stream_file(transfer, *m_pLink, *m_pAnswers, stream_path_of(transfer, record),
                                                   transfer.file.mtime_ns, sending_chunk(transfer));
    if (!outcome.link_sound) {
        close_connection(false, 0);
        if (transfer.stop_requested() && outcome.ended.status == transfer_status::send) {
            outcome.ended.status = transfer_status::stopped;
        }
        // A receiver whose answers no longer match the files is not asked again in this send; and a new
        // connection would make the receiver start a second folder: the rest of this one fails.
        if (outcome.out_of_turn) {
            refuse_all(transfer_status::send, out_of_turn_words);
        } else if (m_oFolder) {
            refuse_all(transfer_status::send, "the connection broke before the whole folder arrived");
        }
    }
    finish_stream_file(transfer, outcome);
}

void parcel_channel::send_alone(socket_thread& transfer, file_record& record) {
    give_turn_back();
    if (open_source(transfer, record) && connect_and_authenticate(transfer)) {
        send_after_authentication(transfer, record);
    }
    (void)take_turn(transfer, true);
}

void parcel_channel::leave(const socket_thread& transfer) {
    if (--m_nLeft == 0) {
        close_connection(m_nState == state::open, receipt_wait_ms(transfer.io_timeout_ms));
    }
    give_turn_back();
}

} // namespace tiv
