#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "net/transfer/parcel_receipt.h"

namespace tiv {

class socket_thread;

// Ends the connection with the receiver's verdict: `status` (why it failed, or none for a stored file)
// and, when both ends announced receipts, `answer` sent first. A sender may still be sending when the answer is a
// refusal: the receiver then reads and discards for a short while before it closes, so the answer arrives. Without
// a receipt a failure resets the connection, as a sender without receipts expects.
void answer_sender(socket_thread& transfer, const std::optional<parcel_receipt>& answer,
                   std::optional<transfer_status> status);

// An early refusal, decided on the record: answered as above, then the transfer ends failed where it stands.
void refuse_early(socket_thread& transfer, const parcel_receipt& answer);

} // namespace tiv
