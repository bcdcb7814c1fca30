#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "core/coded_status.h"
#include "core/file_writer.h"
#include "crypto/authentycryptor.h"
#include "net/box/box_ledger.h"
#include "net/socket/admission_gate.h"
#include "net/socket/net_address.h"
#include "net/socket/net_socket.h"
#include "net/stream/friend_message.h"
#include "net/transfer/rthread.h"
#include "net/transfer/thread_bundle.h"
#include "net/transfer/transfer_slots.h"

namespace tiv {

// The listener: binds the listening address, accepts connections on its own thread and runs a receiving transfer
// for each, authenticated by a clone of `prototype`. Connections whose peer is not yet known pass the admission
// gate's limits; once known, at most `max_receiving` transfers receive at a time, and a friend beyond that waits
// one time-out for a slot. A listener that cannot bind or listen (or start its thread) is not listening(), accepts
// nothing and tells why through setup_status(). Received files are written through `files`; friends' messages go to
// `messages`.
class incoming_connection_handler : public rthread, public thread_bundle {
public:
    static constexpr std::size_t default_max_receiving = 64;
    // Finished transfers the list keeps for a window to show; older ones are let go as new ones end.
    static constexpr std::size_t finished_shown = 256;

    incoming_connection_handler(const std::string& receive_root, const net_address& address, int io_block_size,
                                std::shared_ptr<const authentycryptor> prototype,
                                std::size_t max_receiving = default_max_receiving, transfer_listener listener = {},
                                std::shared_ptr<file_writer> files = shared_real_file_writer(),
                                message_listener messages = {});
    ~incoming_connection_handler() override;

    // Stops accepting, waits for the accept thread, then stops every transfer (each removes its temporary file).
    void stop();

    [[nodiscard]] bool listening() const { return m_bListening; }
    // The bound address, with the port the kernel chose when 0 was asked for.
    [[nodiscard]] const net_address& listening_address() const { return m_oAddress; }
    // Why the listener is not listening (the errno of the failed set-up step); ok when it is.
    [[nodiscard]] const sys_status& setup_status() const { return m_oSetup; }
    // How long a receiving transfer waits for a silent sender before it gives the connection up.
    std::atomic<int> io_timeout_ms{10000};
    // Whether a large file whose transfer breaks leaves its part for the next send of it to continue.
    std::atomic<bool> keep_broken_parts{true};

protected:
    void wake() override;

private:
    void accept_loop();
    void start_receiving(std::unique_ptr<net_socket> connection, const net_address& peer);
    // One log line a second at most while connections are being dropped, so a flood cannot fill the log.
    void note_dropped(const char* reason);

    std::string m_strReceiveRoot;
    int m_nBlockSize;
    std::shared_ptr<const authentycryptor> m_pPrototype;
    std::shared_ptr<file_writer> m_pFiles;
    message_listener m_oMessages;
    std::shared_ptr<transfer_slots> m_pSlots;
    std::shared_ptr<admission_gate> m_pGate;
    std::shared_ptr<box_ledger> m_pLedger = std::make_shared<box_ledger>();
    std::size_t m_nDropped = 0; // the accept thread's: dropped since the last line about it
    std::chrono::steady_clock::time_point m_oLastDropLine{};
    net_socket m_oSocket; // the accept thread's; set up before it starts
    net_address m_oAddress;
    bool m_bListening = false;
    sys_status m_oSetup;
    bool m_bStopped = false;
};

} // namespace tiv
