#include "app/friend_conversation.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <optional>
#include <thread>
#include <variant>

#include "app/internal/destination_check.h"
#include "app/internal/friend_records.h"
#include "app/internal/message_hub.h"
#include "app/internal/program_parts.h"
#include "crypto/negotiating_authentycryptor.h"
#include "net/stream/conversation.h"
#include "net/stream/parcel_frames.h"
#include "net/transfer/socket_thread.h"

namespace tiv::app {

static_assert(max_message_text == max_message_bytes);

namespace {
// A stale address costs a check no more than this wait for the friend's announcement on the LAN.
constexpr std::chrono::milliseconds lan_answer_bound{3000};
// Checks under way at once: enough for a list of friends, few enough for the receivers' admission gates.
constexpr std::size_t checks_at_once = 8;

// The reason of a status, without its full stop, to follow a colon.
std::string reason_of(const status& failure) {
    std::string text = failure.text();
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

friend_reply reply(friend_answer answer, std::string words) {
    return {.answer = answer, .words = std::move(words), .answered_ms = -1};
}

// The words both questions share: the ways a friend's program cannot be asked.
std::optional<friend_reply> unasked(const conversation_outcome& outcome, const std::string& name) {
    switch (outcome.verdict) {
    case conversation_verdict::keys_changed:
        return reply(friend_answer::keys_differ, "keys differ: import " + name + "'s new profile");
    case conversation_verdict::keys_refused:
        return reply(friend_answer::keys_differ, "keys differ: " + name + " needs your new profile");
    case conversation_verdict::unknown_to_peer:
        return reply(friend_answer::unknown, "unknown to " + name + ": " + name + " needs your profile");
    case conversation_verdict::no_answer:
        return reply(friend_answer::no_answer, "no answer");
    case conversation_verdict::failed:
        return reply(friend_answer::failed, "failed: " + outcome.words);
    default:
        return std::nullopt;
    }
}

// The friend asked, as a send reaches them; their reply when they could not be asked or could not answer.
std::variant<conversation_outcome, friend_reply> converse_with(program& p, const std::string& name,
                                                               const std::optional<std::string>& message) {
    const char* const asking = message ? "cannot send: " : "cannot check: ";
    result<friend_profile> found = read_friend_profile(settings_of(p), name);
    if (!found) {
        return reply(friend_answer::failed, asking + reason_of(found.error()));
    }
    if (!found->pinned()) {
        return reply(friend_answer::not_pinned, std::string(asking) + "no pinned key");
    }
    if (!provider_of(p).ready) {
        return reply(friend_answer::failed, std::string(asking) + "this user's keys cannot be used");
    }
    result<std::vector<net_address>> destination =
        check_destination(found->address, static_cast<std::uint32_t>(found->port), resolver_of(p));
    if (!destination) {
        return reply(friend_answer::failed, asking + reason_of(destination.error()));
    }
    socket_thread connection;
    connection.peer_candidates = std::move(*destination);
    if (const std::shared_ptr<lan_neighbours> lan = lan_of(p)) {
        connection.fallback_candidates = [lan, uuid = std::string(found->uuid)] {
            return lan->wait_for(uuid, lan_answer_bound);
        };
    }
    connection.profile = std::move(*found);
    connection.authenticator = std::make_unique<negotiating_authentycryptor>(
        provider_of(p), settings_of(p), negotiating_authentycryptor::version::conversing);
    conversation_outcome outcome = converse(connection, message);
    if (std::optional<friend_reply> failed = unasked(outcome, name)) {
        return std::move(*failed);
    }
    return outcome;
}
} // namespace

friend_reply check_login(program& p, const std::string& friend_name) {
    auto talked = converse_with(p, friend_name, std::nullopt);
    if (auto* early = std::get_if<friend_reply>(&talked)) {
        return std::move(*early);
    }
    const conversation_outcome& outcome = std::get<conversation_outcome>(talked);
    switch (outcome.verdict) {
    case conversation_verdict::not_running:
        return reply(friend_answer::not_running, "not running (connection refused)");
    case conversation_verdict::older_program:
        return reply(friend_answer::older_program, "older program");
    default:
        break;
    }
    friend_reply online = reply(friend_answer::answered, "online (program answered in " +
                                                             std::to_string(outcome.answered_after.count()) + " ms)");
    online.answered_ms = outcome.answered_after.count();
    return online;
}

friend_reply send_message(program& p, const std::string& friend_name, const std::string& text) {
    if (text.size() > max_message_text) {
        return reply(friend_answer::too_long, "too long: a message holds at most " + std::to_string(max_message_text) +
                                                  " bytes, this one " + std::to_string(text.size()));
    }
    auto talked = converse_with(p, friend_name, text);
    if (auto* early = std::get_if<friend_reply>(&talked)) {
        return std::move(*early);
    }
    const conversation_outcome& outcome = std::get<conversation_outcome>(talked);
    switch (outcome.verdict) {
    case conversation_verdict::not_running:
        return reply(friend_answer::not_running, "not running");
    case conversation_verdict::older_program:
        return reply(friend_answer::older_program, "older program: " + friend_name + "'s program takes no messages");
    case conversation_verdict::refused:
        return reply(friend_answer::refused,
                     "refused: " +
                         (outcome.receipt.text.empty() ? receipt_words(outcome.receipt) : outcome.receipt.text));
    default:
        break;
    }
    friend_reply delivered = reply(friend_answer::answered, "delivered");
    delivered.answered_ms = outcome.answered_after.count();
    return delivered;
}

void check_logins(program& p, const std::vector<std::string>& names, const login_report& report) {
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t index = next++; index < names.size(); index = next++) {
            report(index, check_login(p, names[index]));
        }
    };
    std::vector<std::jthread> checkers;
    for (std::size_t i = 1; i < std::min(names.size(), checks_at_once); ++i) {
        checkers.emplace_back(work);
    }
    work();
}

message_feed::message_feed(program& p, event_sink& events) : m_oProgram(p), m_oEvents(events) {
    p.parts().messages->add(events);
}

message_feed::~message_feed() {
    m_oProgram.parts().messages->remove(m_oEvents);
}

std::string message_heading(const received_message& message) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(message.time);
    std::tm local{};
    char time[16] = {};
    if (::localtime_r(&seconds, &local) != nullptr) {
        (void)std::strftime(time, sizeof time, "%H:%M:%S", &local);
    }
    return "Message from " + message.friend_name + " at " + time;
}

} // namespace tiv::app
