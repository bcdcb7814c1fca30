#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/events.h"

namespace tiv::app {

class program;

// What a friend's program said when asked directly over the channel both pinned, without a parcel: whether it runs
// (a login check), or whether it showed a message to its user.
enum class friend_answer {
    answered,      // a check: the program answered; a message: delivered
    refused,       // a message the friend's program refused: messages from this user are off there
    older_program, // authenticated, but the friend's program predates checks and messages
    not_running,   // nothing listens at the friend's address: the program does not run
    no_answer,     // no connection or no answer in time
    keys_differ,   // the friend's keys are not the ones pinned here, or the friend holds other keys of this user's
    unknown,       // the friend's program holds no pinned profile of this user
    not_pinned,    // a friend known only by the old exchange is not asked
    too_long,      // a message over max_message_text bytes; nothing was sent
    failed,        // anything else: the words say what
};

struct friend_reply {
    friend_answer answer = friend_answer::failed;
    // As Friend Status and the message window show it: "online (program answered in 84 ms)", "delivered",
    // "not running (connection refused)", "keys differ: import Bob's new profile"...
    std::string words;
    std::int64_t answered_ms = -1; // from the first connect to the answer, when there was one
};

// The longest message, in bytes of UTF-8.
inline constexpr std::size_t max_message_text = 4096;

// Each call connects to the stored friend `friend_name` as a send would (the stored address, then the LAN),
// authenticates both ways (resuming a saved TLS session where it can) and waits for the answer: seconds at most,
// on the calling thread, which must be a worker's. The program's keys must be open (started, or
// open_sender_identity).
[[nodiscard]] friend_reply check_login(program& p, const std::string& friend_name);
[[nodiscard]] friend_reply send_message(program& p, const std::string& friend_name, const std::string& text);

// check_login for every friend of `names` at once, a few at a time; `report` hears of each, with its index, as it
// ends, on the thread that checked it: only enqueue. Returns once every check has ended.
using login_report = std::function<void(std::size_t index, const friend_reply& reply)>;
void check_logins(program& p, const std::vector<std::string>& names, const login_report& report);

// While it lives, every message a friend sends reaches `events` (event_sink::message). A message that arrives while
// no feed lives is refused, so its sender is not told it was delivered.
class message_feed {
public:
    message_feed(program& p, event_sink& events);
    message_feed(const message_feed&) = delete;
    message_feed& operator=(const message_feed&) = delete;
    ~message_feed();

private:
    program& m_oProgram;
    event_sink& m_oEvents;
};

// "Message from Alice at 14:03:12", in local time: the line a received message is shown under.
[[nodiscard]] std::string message_heading(const received_message& message);

} // namespace tiv::app
