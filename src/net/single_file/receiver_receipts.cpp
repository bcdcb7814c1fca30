#include "net/single_file/receiver_receipts.h"

#include <cerrno>
#include <cstring>

#include "net/socket/connection_io.h"
#include "net/transfer/receipt_exchange.h"
#include "net/transfer/socket_thread.h"
#include "settings/friend_profile.h"

namespace tiv {

parcel_receipt write_failure_receipt(int error, std::uint64_t written) {
    const std::string after = " after " + std::to_string(written) + " bytes";
    if (error == ENOSPC || error == EDQUOT) {
        return refusal_receipt(receipt_reason::disk_full, status_receive, "the receiver's disk is full" + after);
    }
    return refusal_receipt(receipt_reason::write_failed, status_receive,
                           std::string("the file could not be written") + after +
                               (error != 0 ? std::string(": ") + std::strerror(error) : std::string()));
}

void answer_sender(socket_thread& transfer, const std::optional<parcel_receipt>& answer, int status) {
    if (answer && transfer.authenticator->carries_receipts() &&
        send_receipt(*transfer.socket, *transfer.authenticator, *answer)) {
        if (!answer->stored()) {
            (void)set_receive_timeout(*transfer.socket, refusal_drain_ms);
        }
        (void)transfer.close_connection();
        return;
    }
    if (status != socket_thread::no_failure) {
        transfer.abort_connection();
    } else {
        (void)transfer.close_connection();
    }
}

void refuse_early(socket_thread& transfer, const parcel_receipt& answer) {
    answer_sender(transfer, answer, status_refused);
    transfer.end(transfer_outcome::early_failure(status_refused));
}

} // namespace tiv
