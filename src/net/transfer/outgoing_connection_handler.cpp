#include "net/transfer/outgoing_connection_handler.h"

#include "log/activity_log.h"
#include "net/single_file/transfer_file.h"
#include "net/stream/parcel_channel.h"
#include "net/transfer/transfer_bodies.h"

namespace tiv {

outgoing_connection_handler::outgoing_connection_handler(std::shared_ptr<const authentycryptor> prototype)
    : m_pPrototype(std::move(prototype)) {}

std::shared_ptr<socket_thread>
outgoing_connection_handler::start_outgoing(const std::string& directory, const std::string& name,
                                            const std::vector<net_address>& destination, int io_block_size,
                                            std::shared_ptr<parcel_channel> channel, std::string stream_path) {
    auto transfer = std::make_shared<socket_thread>();
    transfer->channel = std::move(channel);
    transfer->stream_path = std::move(stream_path);
    transfer->authenticator = m_pPrototype->clone();
    if (profile != nullptr) {
        transfer->profile = *profile;
        transfer->set_peer_name(profile->name);
    }
    transfer->io_block_size = io_block_size;
    transfer->io_timeout_ms = io_timeout_ms;
    transfer->peer_candidates = destination;
    transfer->fallback_candidates = fallback_candidates;
    if (!destination.empty()) {
        transfer->peer_address = destination.front();
    }
    transfer->file.directory = without_trailing_separator(directory);
    file_record record;
    record.set_name(name);
    transfer->set_record(record, 0);
    const transfer_log_scope scope(transfer->id());
    log_activity("outgoing_connection_handler -->%s[%s]", directory.c_str(), name.c_str());
    if (transfer->channel != nullptr) {
        // Listed first: the send's worker may end it at once.
        append(transfer);
        transfer->channel->enqueue(transfer, announcer_for(transfer));
        return transfer;
    }
    // A transfer whose thread cannot start stays in the list, failed and finished, so it is shown like any other.
    auto body = [turns = m_pTurns](socket_thread& sending) {
        constexpr std::chrono::milliseconds stop_check(100);
        while (!turns->acquire_within(stop_check)) {
            if (sending.stop_requested()) {
                sending.end(false, transfer_status::stopped);
                return;
            }
        }
        run_sending_body(sending);
        turns->release();
    };
    transfer->start_thread(announced(transfer, std::move(body)));
    append(transfer);
    return transfer;
}

} // namespace tiv
