#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "net/transfer/parcel_receipt.h"

namespace tiv {

class socket_thread;

// How a sender's question to a friend's program ended: a login check (is the program there, and does it take us?)
// or a message for its user. Either goes over a connection of its own that carries no parcel.
enum class conversation_verdict {
    answered,        // a check: the program answered; a message: it is shown
    refused,         // a message the receiver refused: its receipt says why
    older_program,   // the exchange ran both ways, but the receiver's program predates checks and messages
    not_running,     // nothing listens there: the connection was refused
    no_answer,       // no connection, or no answer, in time
    keys_changed,    // the receiver proved a signature key other than the one pinned for it
    keys_refused,    // the receiver ended the connection after the handshake: it holds other keys for this sender
    unknown_to_peer, // the receiver answered with the old exchange: it holds no pinned profile of this sender
    failed,          // anything else, which `words` says
};

struct conversation_outcome {
    conversation_verdict verdict = conversation_verdict::failed;
    std::chrono::milliseconds answered_after{0}; // from the first connect to the answer
    parcel_receipt receipt;                      // a refused message's
    std::string words;                           // why it failed
};

// Connects `connection` to the friend it names, authenticates and asks: the login check, or with `message`, to show
// it (at most max_message_bytes; the caller refuses a longer one). Set up as a send's transfer is (candidates,
// profile, authenticator, time-out); runs on the calling thread, which it holds for at most a connect and an answer's
// time-out. A receiver of an older version is not asked anything: its connection ends right after the exchange, in
// good order.
[[nodiscard]] conversation_outcome converse(socket_thread& connection, const std::optional<std::string>& message);

} // namespace tiv
