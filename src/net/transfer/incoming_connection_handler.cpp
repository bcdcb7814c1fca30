#include "net/transfer/incoming_connection_handler.h"

#include <cerrno>
#include <thread>

#include "log/activity_log.h"
#include "net/single_file/transfer_file.h"
#include "net/transfer/transfer_bodies.h"

namespace tiv {

namespace {
// After an accept fails for want of descriptors or memory, wait a moment rather than spin on the same failure.
constexpr std::chrono::milliseconds accept_retry_pause{50};

sys_status listen_at(net_socket& socket, const net_address& address) {
    if (sys_status opened = open_tcp_socket(socket, address.family() == AF_INET6 ? AF_INET6 : AF_INET); !opened) {
        return opened;
    }
    if (sys_status bound = bind_socket(socket, address); !bound) {
        return bound;
    }
    return listen_socket(socket);
}
} // namespace

incoming_connection_handler::incoming_connection_handler(const std::string& receive_root, const net_address& address,
                                                         int io_block_size,
                                                         std::shared_ptr<const authentycryptor> prototype,
                                                         std::size_t max_receiving, transfer_listener listener,
                                                         std::shared_ptr<file_writer> files, message_listener messages)
    : m_strReceiveRoot(without_trailing_separator(receive_root)), m_nBlockSize(io_block_size),
      m_pPrototype(std::move(prototype)), m_pFiles(std::move(files)), m_oMessages(std::move(messages)),
      m_pSlots(std::make_shared<transfer_slots>(max_receiving)),
      m_pGate(std::make_shared<admission_gate>(admission_gate::limits{})) {
    // Before the accept thread starts, so not even the first connection goes unannounced.
    set_listener(std::move(listener));
    keep_finished(finished_shown);
    if (!address.resolved) {
        m_oSetup = sys_failure(EADDRNOTAVAIL, "cannot listen on an address that did not resolve");
        return;
    }
    m_oSetup = listen_at(m_oSocket, address);
    if (!m_oSetup) {
        return;
    }
    m_oAddress = m_oSocket.address;
    m_bListening = true;
    if (start_thread([this] { accept_loop(); }) == 0) {
        m_bListening = false;
        m_oSetup = sys_failure(EAGAIN, "cannot start the listener's thread");
        close_socket(m_oSocket);
    }
}

incoming_connection_handler::~incoming_connection_handler() {
    stop();
}

void incoming_connection_handler::wake() {
    m_pSlots->close();
    m_pGate->close();
    if (m_bListening) {
        interrupt_accept(m_oSocket);
    }
}

void incoming_connection_handler::stop() {
    if (m_bStopped) {
        return;
    }
    m_bStopped = true;
    // The accept thread ends first, so nothing is appended while the transfers are being stopped.
    (void)stop_wait();
    stop_all();
}

void incoming_connection_handler::accept_loop() {
    while (!stop_requested()) {
        net_address peer{};
        status_or<std::unique_ptr<net_socket>, sys_status> connection = accept_connection(m_oSocket, &peer);
        if (!connection) {
            if (!stop_requested()) {
                std::this_thread::sleep_for(accept_retry_pause);
            }
            continue;
        }
        start_receiving(std::move(connection.value()), peer);
    }
}

void incoming_connection_handler::note_dropped(const char* reason) {
    ++m_nDropped;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_oLastDropLine < std::chrono::seconds(1)) {
        return;
    }
    log_activity("incoming_connection_handler: dropped %zu connection(s): %s", m_nDropped, reason);
    m_nDropped = 0;
    m_oLastDropLine = now;
}

void incoming_connection_handler::start_receiving(std::unique_ptr<net_socket> connection, const net_address& peer) {
    auto transfer = std::make_shared<socket_thread>();
    transfer->direction = transfer_direction::receiving;
    transfer->socket = std::move(connection);
    const admission_gate::admission admission = m_pGate->admit(source_of(peer), transfer);
    if (admission.evicted != nullptr) {
        admission.evicted->request_stop();
    }
    if (!admission.admitted) {
        transfer->abort_connection();
        note_dropped(admission.refusal);
        return;
    }
    transfer->authenticator = m_pPrototype->clone();
    transfer->io_block_size = m_nBlockSize;
    transfer->io_timeout_ms = io_timeout_ms;
    transfer->keep_broken_parts = keep_broken_parts;
    transfer->peer_address = peer;
    transfer->file.directory = m_strReceiveRoot;
    transfer->file.use_writer(m_pFiles);
    // The body holds its transfer, the gate, the slot count and the ledger, so all outlive any owner that lets go
    // early.
    const std::chrono::milliseconds patience(transfer->io_timeout_ms);
    auto body = [gate = m_pGate, slots = m_pSlots, ledger = m_pLedger, patience,
                 messages = m_oMessages](socket_thread& receiving) {
        // A friend's login check or message is worth one line, which only the connection's first frame can tell.
        const held_log_lines held;
        log_activity("incoming_connection_handler <-- Receiving connection from [%s]",
                     host_text(receiving.peer_address).c_str());
        if (!gate->wait_for_turn(&receiving, std::chrono::steady_clock::now() + patience)) {
            receiving.abort_connection();
            receiving.end(false, transfer_status::refused, "too many connections were waiting to authenticate");
            return;
        }
        bool holds_slot = false;
        const receiving_hooks hooks{
            // A transfer the gate already let go of, to make room for a newcomer, is being stopped.
            .known = [&] { return gate->leave(&receiving); },
            .slot =
                [&] {
                    holds_slot = slots->acquire_within(patience);
                    return holds_slot;
                },
            .messages = messages};
        run_receiving_body(receiving, *ledger, hooks);
        (void)gate->leave(&receiving);
        if (holds_slot) {
            slots->release();
        }
    };
    if (transfer->start_thread(announced(transfer, std::move(body))) == 0) {
        (void)m_pGate->leave(transfer.get());
        transfer->abort_connection();
        return;
    }
    append(std::move(transfer));
}

} // namespace tiv
