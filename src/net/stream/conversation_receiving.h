#pragma once

#include <string>

#include "net/stream/friend_message.h"
#include "net/stream/parcel_link.h"

namespace tiv {

class socket_thread;

// A friend asks the receiving program itself, over a connection that carries no parcel (version 6): whether it runs,
// or to show a message. Each is answered at once and costs the activity log one line, whatever the connection logged
// before it. The friend's profile is the transfer's, as it stands now. False when the answer could not be sent.
[[nodiscard]] bool answer_login_check(socket_thread& transfer, parcel_link& link);
// `text` as sent goes to `messages`, tamed, when the friend may send messages; else it is refused with that reason.
[[nodiscard]] bool answer_message(socket_thread& transfer, parcel_link& link, const std::string& text,
                                  const message_listener& messages);

} // namespace tiv
