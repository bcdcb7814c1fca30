#include "net/single_file/receiver_receipts.h"

#include "net/socket/connection_io.h"
#include "net/transfer/receipt_exchange.h"
#include "net/transfer/socket_thread.h"
#include "settings/friend_profile.h"

namespace tiv {

void answer_sender(socket_thread& transfer, const std::optional<parcel_receipt>& answer,
                   std::optional<transfer_status> status) {
    if (answer && transfer.authenticator->carries_receipts() &&
        send_receipt(*transfer.socket, *transfer.authenticator, *answer)) {
        if (!answer->stored()) {
            (void)set_receive_timeout(*transfer.socket, refusal_drain_ms);
        }
        (void)transfer.close_connection();
        return;
    }
    if (status) {
        transfer.abort_connection();
    } else {
        (void)transfer.close_connection();
    }
}

void refuse_early(socket_thread& transfer, const parcel_receipt& answer) {
    answer_sender(transfer, answer, transfer_status::refused);
    transfer.end(transfer_outcome::early_failure(transfer_status::refused));
}

} // namespace tiv
