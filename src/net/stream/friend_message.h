#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace tiv {

// A message a friend sent, as the receiving program hands it on: who sent it (the profile's name), when it arrived,
// and its text, tamed as a received file's name is, so nothing in it acts on a screen or a terminal.
struct friend_message {
    std::string friend_name;
    std::string text;
    std::chrono::system_clock::time_point time;
};

// Called on the receiving transfer's thread: only enqueue. False when nobody is there to show the message, which
// the sender is then told.
using message_listener = std::function<bool(const friend_message& message)>;

} // namespace tiv
