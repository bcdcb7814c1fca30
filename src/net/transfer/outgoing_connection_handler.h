#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "crypto/authentycryptor.h"
#include "net/socket/net_address.h"
#include "net/transfer/thread_bundle.h"
#include "net/transfer/transfer_slots.h"
#include "settings/friend_profile.h"

namespace tiv {

// The sending transfers of one send window (or one send command). The files of a send that shares a connection
// go to its channel, whose one worker runs them all; any other file gets a connection and thread of its own. A few
// of those connect at a time and the rest wait their turn: a thousand handshakes at once would only slow each other
// down, and the receiver lets one address authenticate only a few connections at a time.
class outgoing_connection_handler : public thread_bundle {
public:
    static constexpr std::size_t connections_at_once = 8;

    explicit outgoing_connection_handler(std::shared_ptr<const authentycryptor> prototype);

    // Starts sending `name` (found below `directory`; a name starting with '/' stands alone) to the first address of
    // `destination` that answers (connect_first).
    // The transfer carries a copy of `profile` when one is set. With `channel` it shares that connection with the
    // other transfers of its send, and the stream names the file `stream_path` (relative to the folder sent) when
    // that is not empty.
    std::shared_ptr<socket_thread> start_outgoing(const std::string& directory, const std::string& name,
                                                  const std::vector<net_address>& destination, int io_block_size,
                                                  std::shared_ptr<parcel_channel> channel = nullptr,
                                                  std::string stream_path = {});

    const friend_profile* profile = nullptr; // the destination friend, not owned
    // Given to every transfer: where else the friend may be when the destination does not connect.
    std::function<std::vector<net_address>()> fallback_candidates;
    int io_timeout_ms = 10000; // a receiver silent this long is given up

private:
    std::shared_ptr<const authentycryptor> m_pPrototype;
    std::shared_ptr<transfer_slots> m_pTurns = std::make_shared<transfer_slots>(connections_at_once);
};

} // namespace tiv
