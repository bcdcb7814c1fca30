#include "net/stream/conversation_receiving.h"

#include "core/outside_text.h"
#include "log/activity_log.h"
#include "net/transfer/parcel_receipt.h"
#include "net/transfer/socket_thread.h"

namespace tiv {

namespace {
std::string logged_as(const socket_thread& transfer, const std::string& what) {
    return "R::" + what + " from [" + transfer.profile.name + "] at " + endpoint_text(transfer.peer_address);
}
} // namespace

bool answer_login_check(socket_thread& transfer, parcel_link& link) {
    held_log_lines::summarise(logged_as(transfer, "Login check") + ": answered");
    return link.send_frame(frame_type::checked, {});
}

bool answer_message(socket_thread& transfer, parcel_link& link, const std::string& text,
                    const message_listener& messages) {
    const friend_profile& sender = transfer.profile;
    const std::string size = " (" + std::to_string(text.size()) + " bytes)";
    if (!sender.accepts_messages()) {
        held_log_lines::summarise(logged_as(transfer, "Message") + size +
                                  " refused: messages from this friend are off");
        return link.send_frame(
            frame_type::receipt,
            refusal_receipt(receipt_reason::messages_off, transfer_status::refused, "messages are off for you")
                .encode());
    }
    const friend_message message{
        .friend_name = sender.name, .text = replaced_text(text), .time = std::chrono::system_clock::now()};
    if (!messages || !messages(message)) {
        held_log_lines::summarise(logged_as(transfer, "Message") + size + " refused: nothing here shows messages");
        return link.send_frame(frame_type::receipt,
                               refusal_receipt(receipt_reason::messages_off, transfer_status::refused,
                                               "the receiving program shows no messages")
                                   .encode());
    }
    // The text itself is the user's to keep or not: the log notes only that it came.
    held_log_lines::summarise(logged_as(transfer, "Message") + size + ": shown");
    return link.send_frame(frame_type::receipt, stored_receipt().encode());
}

} // namespace tiv
