#pragma once

#include <functional>
#include <optional>
#include <string>

#include "net/box/box_ledger.h"
#include "net/stream/friend_message.h"
#include "net/stream/parcel_link.h"
#include "net/transfer/parcel_receipt.h"

namespace tiv {

class socket_thread;

// The receiving side of the parcel stream on an authenticated connection, until the sender's end: loose files land
// in `parcel_box` (prepared), a folder as a new folder below it. Each file is stored under its name only once whole
// and is answered with a receipt; a large file whose transfer breaks leaves its kept part for the next send when
// `keep_broken_parts`. `box_refusal` is asked once, with the first file's or folder's name, whether the box can
// take anything at all; `ledger` counts what the box holds against the friend's limit, and the friend's profile is
// read again before each parcel, so a change of its settings applies to the next and a deleted friend's stream
// ends there. Nothing the sender names can lead outside the box: every path is checked, and directories
// are made and entered without following a link. The transfer ends completed when the stream ended in good order,
// failed with the status of the last file refused (which the log names), or failed when the connection broke.
//
// Where both announced version 6 the stream may carry, instead of parcels, a friend's login check or message (see
// conversation_receiving.h): such a connection stays unlisted and takes no turn among the receiving transfers. The
// first folder or file lists it and takes its turn through `first_parcel` (false: none came in time, and the
// connection ends); a message goes to `messages`.
using box_check = std::function<std::optional<parcel_receipt>(const std::string& parcel)>;
struct stream_hooks {
    std::function<bool()> first_parcel;
    message_listener messages;
};
void run_stream_receiving(socket_thread& transfer, parcel_link& link, const std::string& parcel_box,
                          const box_check& box_refusal, box_ledger& ledger, bool keep_broken_parts,
                          const stream_hooks& hooks = {});

} // namespace tiv
