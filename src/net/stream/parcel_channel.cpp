#include "net/stream/parcel_channel.h"

#include <algorithm>
#include <sys/socket.h>
#include <utility>

#include "core/transfer_view.h"
#include "log/activity_log.h"
#include "net/single_file/sending_steps.h"
#include "net/socket/connection_io.h"
#include "net/transfer/parcel_receipt.h"
#include "net/transfer/rthread.h"
#include "net/transfer/socket_thread.h"

namespace tiv {

// The send's one thread; counted among the transfer threads, so a program's exit waits for it to let go.
class parcel_channel::worker : public rthread {
public:
    worker() { m_bTransfer = true; }
};

parcel_channel::parcel_channel(std::size_t transfers, std::optional<folder_plan> folder)
    : m_nTransfers(transfers), m_oFolder(std::move(folder)) {}

// The worker ends the connection; a send whose worker never ran leaves it to be reset here.
parcel_channel::~parcel_channel() {
    if (m_pSocket != nullptr && m_pSocket->handle >= 0) {
        set_abortive_close(*m_pSocket);
        close_socket(*m_pSocket);
    }
}

void parcel_channel::enqueue(std::shared_ptr<socket_thread> transfer, thread_bundle::body_announcer announcer) {
    // Under way from now on, as a transfer with a thread of its own would be while it waited for its turn.
    transfer->begin_hosted();
    transfer->begin();
    bool first = false;
    {
        const std::lock_guard guard(m_oQueueLock);
        first = m_pWorker == nullptr;
        if (first) {
            m_pWorker = std::make_unique<worker>();
        }
        m_aQueue.push_back({std::move(transfer), std::move(announcer)});
    }
    m_oQueued.notify_one();
    if (first && m_pWorker->start_thread([self = shared_from_this()] { self->run(); }) == 0) {
        // No thread for the send: every file of it ends as it comes, failed, so no window waits for it.
        std::deque<queued> orphans;
        {
            const std::lock_guard guard(m_oQueueLock);
            orphans.swap(m_aQueue);
        }
        for (queued& entry : orphans) {
            entry.transfer->end(false, transfer_status::memory, "no thread could be started for the send");
            let_go(entry);
        }
    }
}

void parcel_channel::interrupt(const socket_thread* transfer) {
    // One still waiting for its turn ends at once, however long the files before it take; the worker passes over
    // what is left of it in the queue.
    queued stopped;
    {
        const std::lock_guard guard(m_oQueueLock);
        const auto waiting = std::find_if(m_aQueue.begin(), m_aQueue.end(),
                                          [transfer](const queued& entry) { return entry.transfer.get() == transfer; });
        if (waiting != m_aQueue.end()) {
            stopped = std::exchange(*waiting, queued{});
        }
    }
    if (stopped.transfer != nullptr) {
        stopped.transfer->end(transfer_outcome::early_failure(transfer_status::stopped));
        let_go(stopped);
    }
    if (transfer->discard_requested()) {
        return; // the worker gives that file up when it looks, and the others go on
    }
    std::lock_guard guard(m_oSocketLock);
    if (m_pSocket != nullptr && m_pSocket->handle >= 0) {
        ::shutdown(m_pSocket->handle, SHUT_RDWR);
    }
}

parcel_channel::queued parcel_channel::next_queued() {
    std::unique_lock guard(m_oQueueLock);
    m_oQueued.wait(guard, [this] { return !m_aQueue.empty(); });
    queued entry = std::move(m_aQueue.front());
    m_aQueue.pop_front();
    return entry;
}

void parcel_channel::run() {
    for (std::size_t left = m_nTransfers; left > 0; --left) {
        queued entry = next_queued();
        if (entry.transfer == nullptr) {
            continue; // stopped while it waited, and ended then
        }
        const transfer_log_scope scope(entry.transfer->id());
        entry.transfer->hosted_here();
        entry.announcer.started();
        take_up(entry);
    }
    const int wait_ms = m_aAwaiting.empty() ? 0 : receipt_wait_ms(m_aAwaiting.front().entry.transfer->io_timeout_ms);
    while (!m_aAwaiting.empty()) {
        (void)settle_next(*m_aAwaiting.front().entry.transfer, wait_ms);
    }
    close_connection(m_nState == state::open);
}

void parcel_channel::take_up(queued& entry) {
    socket_thread& transfer = *entry.transfer;
    if (transfer.stop_requested()) {
        transfer.end(transfer_outcome::early_failure(transfer_status::stopped));
        let_go(entry);
        return;
    }
    if (m_nState == state::open) {
        make_room(transfer);
    }
    switch (m_nState) {
    case state::refused:
        fail_early(transfer, *m_oRefusal.status, m_oRefusal.words);
        let_go(entry);
        return;
    case state::old_peer:
        send_alone(entry);
        return;
    case state::closed:
    case state::open:
        break;
    }
    file_record record = transfer.record();
    // The file is opened first: one that cannot be read fails on its own, without a connection for nothing.
    if (!open_source(transfer, record)) {
        let_go(entry);
        return;
    }
    if (m_nState == state::closed) {
        open(transfer);
    }
    if (transfer.snapshot().finished) {
        let_go(entry);
        return;
    }
    switch (m_nState) {
    case state::open:
        send_over_stream(entry, record);
        return;
    case state::old_peer:
        // This connection is already authenticated: the file goes over it the old way.
        send_after_authentication(transfer, record);
        break;
    case state::refused:
        fail_early(transfer, *m_oRefusal.status, m_oRefusal.words);
        break;
    case state::closed:
        break;
    }
    let_go(entry);
}

void parcel_channel::refuse_all(transfer_status status, std::string words) {
    m_nState = state::refused;
    m_oRefusal = transfer_outcome::early_failure(status, std::move(words));
}

void parcel_channel::close_connection(bool in_order) {
    if (m_pLink != nullptr && in_order) {
        in_order = end_stream(*m_pLink);
    }
    m_pAnswers.reset();
    m_pLink.reset();
    if (m_pSocket != nullptr) {
        // An orderly end waits for the receiver's own end, so that closing cannot reset what it has still to read.
        // Nothing is decided by that wait any more (the receipts were the verdict), so it holds no lock: a stop (the
        // program ending, most often) cuts it short instead of queueing behind it for a round trip. The descriptor
        // stays open until the close below, so a stop never reaches another connection's.
        if (in_order) {
            (void)::shutdown(m_pSocket->handle, SHUT_WR);
            in_order = drain(*m_pSocket).ok();
        }
        std::lock_guard guard(m_oSocketLock);
        if (!in_order) {
            // A receiver that did not end in time is not waited for a second time.
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

bool parcel_channel::pipelining() const {
    return m_pCipher != nullptr && m_pCipher->carries_pipelining();
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
    (void)m_pAnswers->folder_announced();
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
        std::lock_guard guard(m_oSocketLock);
        m_pSocket = transfer.take_socket();
    }
    m_pCipher = std::move(transfer.authenticator);
    transfer.authenticator = m_pCipher->clone();
    m_pLink = std::make_unique<parcel_link>(*m_pSocket, *m_pCipher);
    m_pAnswers = std::make_unique<stream_answers>(*m_pLink);
    m_nState = state::open;
    if (!tell_whereabouts(*m_pLink, *m_pCipher) || (m_oFolder && !announce_folder(transfer))) {
        close_connection(true);
    }
}

void parcel_channel::make_room(const socket_thread& current) {
    const std::size_t files = pipelining() ? files_ahead : 1;
    while (m_nState == state::open && !m_aAwaiting.empty() &&
           (m_aAwaiting.size() >= files || m_nBytesAwaiting >= bytes_ahead)) {
        settle_next(current, receipt_wait_ms(current.io_timeout_ms));
    }
    // Whatever has come already: the receipts of earlier files, or an answer nobody is owed.
    while (m_nState == state::open && settle_next(current, 0)) {
    }
}

bool parcel_channel::settle_next(const socket_thread& current, int wait_ms) {
    const stream_answers::answer answer = m_pAnswers->next(wait_ms);
    switch (answer.what) {
    case stream_answers::kind::none:
        return false;
    case stream_answers::kind::stored:
    case stream_answers::kind::refused:
        if (!settle(answer)) {
            break_link(lost_answers());
            return false;
        }
        return true;
    default:
        // Whatever else came, the connection can carry nothing more.
        break_link(stream_verdict(current, {.complete = true}, answer));
        return false;
    }
}

stream_item_outcome parcel_channel::lost_answers() {
    return {.ended = transfer_outcome::failure(transfer_status::send, out_of_turn_words),
            .link_sound = false,
            .out_of_turn = true};
}

bool parcel_channel::settle(const stream_answers::answer& answer) {
    // The answers settle items oldest first; one for anything else cannot be matched to its file.
    if (m_aAwaiting.empty() || m_aAwaiting.front().sent.item != answer.item) {
        return false;
    }
    awaiting settled = std::move(m_aAwaiting.front());
    m_aAwaiting.pop_front();
    m_nBytesAwaiting -= settled.sent.data_bytes;
    const transfer_log_scope scope(settled.entry.transfer->id());
    conclude(settled.entry, stream_verdict(*settled.entry.transfer, settled.sent, answer));
    return true;
}

void parcel_channel::break_link(stream_item_outcome outcome) {
    // Before the receiver confirmed the exchange, nothing it did counts but that it refused it: so for every file,
    // and for the rest of the send, which would meet the same.
    const bool refused = m_pCipher != nullptr && m_pCipher->awaiting_peer_confirmation();
    if (refused && !m_aAwaiting.empty()) {
        outcome.ended = as_refused_exchange(*m_aAwaiting.front().entry.transfer, *m_pCipher, std::move(outcome.ended));
    }
    close_connection(false);
    std::deque<awaiting> unconfirmed;
    unconfirmed.swap(m_aAwaiting);
    m_nBytesAwaiting = 0;
    for (awaiting& file : unconfirmed) {
        const transfer_log_scope scope(file.entry.transfer->id());
        conclude(file.entry, outcome);
    }
    // A receiver whose answers no longer match the files is not asked again in this send; and a new connection
    // would make the receiver start a second folder: the rest of this one fails.
    if (refused && outcome.ended.status == transfer_status::authentication) {
        refuse_all(transfer_status::authentication, outcome.ended.words);
    } else if (outcome.out_of_turn) {
        refuse_all(transfer_status::send, out_of_turn_words);
    } else if (m_oFolder) {
        refuse_all(transfer_status::send, "the connection broke before the whole folder arrived");
    }
}

void parcel_channel::conclude(queued& entry, stream_item_outcome outcome) {
    socket_thread& transfer = *entry.transfer;
    if (transfer.stop_requested() && outcome.ended.status == transfer_status::send) {
        outcome.ended.status = transfer_status::stopped;
    }
    finish_stream_file(transfer, outcome);
    let_go(entry);
}

void parcel_channel::let_go(queued& entry) {
    entry.announcer.ended();
    entry.transfer->end_hosted();
}

void parcel_channel::send_over_stream(queued& entry, const file_record& record) {
    socket_thread& transfer = *entry.transfer;
    // The link stays whole while the file goes out: an answer that matches no file only marks it.
    bool lost = false;
    const earlier_answers earlier = [this, &lost](const stream_answers::answer& answer) {
        lost = lost || !settle(answer);
    };
    stream_file_progress progress = send_stream_file(transfer, *m_pLink, *m_pAnswers, stream_path_of(transfer, record),
                                                     transfer.file.mtime_ns, sending_chunk(transfer), earlier);
    if (lost) {
        progress.ended = lost_answers();
    }
    if (!progress.ended) {
        (void)transfer.file.close_file();
        m_nBytesAwaiting += progress.sent.data_bytes;
        m_aAwaiting.push_back({.entry = std::move(entry), .sent = progress.sent});
        return;
    }
    if (!progress.ended->link_sound) {
        progress.ended->ended = as_refused_exchange(transfer, *m_pCipher, std::move(progress.ended->ended));
        break_link(*progress.ended);
    }
    conclude(entry, std::move(*progress.ended));
}

void parcel_channel::send_alone(queued& entry) {
    socket_thread& transfer = *entry.transfer;
    file_record record = transfer.record();
    if (open_source(transfer, record) && connect_and_authenticate(transfer)) {
        send_after_authentication(transfer, record);
    }
    let_go(entry);
}

} // namespace tiv
