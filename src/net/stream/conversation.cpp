#include "net/stream/conversation.h"

#include <cerrno>

#include "log/activity_log.h"
#include "net/socket/connection_io.h"
#include "net/socket/socket_link.h"
#include "net/stream/parcel_link.h"
#include "net/stream/stream_sending.h"
#include "net/transfer/socket_thread.h"

namespace tiv {

namespace {
using steady = std::chrono::steady_clock;

conversation_outcome ended(conversation_verdict verdict, std::string words = {}) {
    return {.verdict = verdict, .answered_after = {}, .receipt = {}, .words = std::move(words)};
}

conversation_outcome unconnected(const sys_status& connected) {
    switch (connected.code()) {
    case ECONNREFUSED:
        return ended(conversation_verdict::not_running);
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENETUNREACH:
        return ended(conversation_verdict::no_answer);
    default:
        return ended(conversation_verdict::failed, connected.text());
    }
}

conversation_outcome unauthenticated(const authentycryptor& cipher, const socket_link& link) {
    switch (cipher.last_failure()) {
    case auth_failure::peer_keys_changed:
        return ended(conversation_verdict::keys_changed);
    case auth_failure::peer_unpinned:
        return ended(conversation_verdict::unknown_to_peer);
    case auth_failure::no_common_key_type:
        return ended(conversation_verdict::failed, auth_failure_reason(auth_failure::no_common_key_type));
    default:
        break;
    }
    if (link.failure().code() == ETIMEDOUT) {
        return ended(conversation_verdict::no_answer);
    }
    // The receiver hung up on the exchange it had agreed to: it refused this sender's certificate.
    if (cipher.last_failure() == auth_failure::exchange_refused) {
        return ended(conversation_verdict::keys_refused);
    }
    return ended(conversation_verdict::failed, "the authentication failed; the activity log says why");
}

// What a link that failed before the answer means: a receiver that never confirmed the exchange refused it.
conversation_outcome unanswered(const authentycryptor& cipher, parcel_link::arrival arrival) {
    if (cipher.awaiting_peer_confirmation()) {
        return ended(conversation_verdict::keys_refused);
    }
    if (arrival == parcel_link::arrival::timed_out) {
        return ended(conversation_verdict::no_answer);
    }
    return ended(conversation_verdict::failed, arrival == parcel_link::arrival::frame
                                                   ? "the receiver's answer was malformed"
                                                   : "the receiver ended the connection before it answered");
}

// The receiver's end of its stream, then ours and TCP's; a receiver that does not end in good order is reset.
void close_after(socket_thread& connection, parcel_link& link) {
    frame_type type{};
    std::span<const std::uint8_t> payload;
    if (link.close_stream() && link.receive(type, payload, connection.io_timeout_ms) == parcel_link::arrival::closed) {
        (void)connection.close_connection();
    } else {
        connection.abort_connection();
    }
}

// A receiver that takes the parcel stream but not checks: the stream ends at once, and its own end in good order
// carries the confirmation that it took us.
conversation_outcome end_at_once(socket_thread& connection, authentycryptor& cipher) {
    if (!cipher.carries_parcel_stream()) {
        parcel_link link(*connection.socket, cipher);
        (void)link.close_stream();
        (void)connection.close_connection();
        return ended(conversation_verdict::older_program);
    }
    parcel_link link(*connection.socket, cipher);
    frame_type type{};
    std::span<const std::uint8_t> payload;
    const bool sent = tell_whereabouts(link, cipher) && end_stream(link);
    const parcel_link::arrival arrival =
        sent ? link.receive(type, payload, connection.io_timeout_ms) : parcel_link::arrival::broken;
    if (arrival == parcel_link::arrival::closed) {
        (void)connection.close_connection();
        return ended(conversation_verdict::older_program);
    }
    connection.abort_connection();
    return cipher.awaiting_peer_confirmation() ? ended(conversation_verdict::keys_refused)
                                               : ended(conversation_verdict::older_program);
}

conversation_outcome ask(socket_thread& connection, authentycryptor& cipher, const std::optional<std::string>& message,
                         steady::time_point started) {
    parcel_link link(*connection.socket, cipher);
    std::vector<std::uint8_t> frames;
    append_frame(frames, message ? frame_type::message : frame_type::check,
                 message ? encode_message(*message) : std::vector<std::uint8_t>{});
    append_frame(frames, frame_type::end, {});
    frame_type type{};
    std::span<const std::uint8_t> payload;
    const bool sent = tell_whereabouts(link, cipher) && link.send(frames);
    const parcel_link::arrival arrival =
        sent ? link.receive(type, payload, connection.io_timeout_ms) : parcel_link::arrival::broken;
    conversation_outcome outcome = unanswered(cipher, arrival);
    if (arrival == parcel_link::arrival::frame && !cipher.awaiting_peer_confirmation()) {
        parcel_receipt receipt;
        std::size_t used = 0;
        if (!message && type == frame_type::checked && payload.empty()) {
            outcome = ended(conversation_verdict::answered);
        } else if (message && type == frame_type::receipt &&
                   decode_receipt(payload, receipt, used) == receipt_parse::complete && used == payload.size()) {
            outcome = ended(receipt.stored() ? conversation_verdict::answered : conversation_verdict::refused);
            outcome.receipt = std::move(receipt);
        }
        outcome.answered_after = std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - started);
    }
    if (outcome.verdict == conversation_verdict::answered || outcome.verdict == conversation_verdict::refused) {
        close_after(connection, link);
    } else {
        connection.abort_connection();
    }
    return outcome;
}
} // namespace

conversation_outcome converse(socket_thread& connection, const std::optional<std::string>& message) {
    const steady::time_point started = steady::now();
    const sys_status connected = connection.connect_to_peer();
    if (!connected) {
        log_activity("S: %s of [%s]: %s", message ? "Message" : "Login check", connection.profile.name,
                     connected.text().c_str());
        return unconnected(connected);
    }
    (void)set_send_timeout(*connection.socket, connection.io_timeout_ms);
    (void)set_receive_timeout(*connection.socket, connection.io_timeout_ms);
    authentycryptor& cipher = *connection.authenticator;
    socket_link link(*connection.socket);
    if (!cipher.AuthenticateAsSender(link, connection.profile)) {
        connection.abort_connection();
        return unauthenticated(cipher, link);
    }
    return cipher.carries_conversation() ? ask(connection, cipher, message, started) : end_at_once(connection, cipher);
}

} // namespace tiv
