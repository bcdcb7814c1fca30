#include "cli/console.h"

#include "app/friend_conversation.h"
#include "core/outside_text.h"

namespace tiv::cli {

void console::print_log_to(std::ostream* out) {
    std::lock_guard guard(m_oLock);
    m_pLogOut = out;
}

void console::print_messages_to(std::ostream* out) {
    std::lock_guard guard(m_oLock);
    m_pMessageOut = out;
}

void console::print_message(const std::string& text, const std::string& caption) {
    std::string flat;
    for (char c : text) {
        if (c != '\r') {
            flat += c == '\n' ? ' ' : c;
        }
    }
    std::lock_guard guard(m_oLock);
    // Messages may quote names that peers chose.
    m_oErr << "quorvel-cli: " << escaped_text(caption) << ": " << escaped_text(flat) << '\n';
}

int console::ask(const std::string& text, const std::string& caption, unsigned) {
    print_message(text, caption);
    return app::IDOK;
}

void console::log(const app::log_event& line) {
    std::lock_guard guard(m_oLock);
    if (m_pLogOut != nullptr) {
        // The log escapes its own lines; a line that reached the sink some other way is escaped here.
        *m_pLogOut << escaped_text(app::format_log_line(line)) << std::endl;
    }
}

void console::message(const app::received_message& message) {
    std::lock_guard guard(m_oLock);
    if (m_pMessageOut != nullptr) {
        // Tamed by the receiver already; escaped again, as anything a peer chose that reaches a terminal.
        *m_pMessageOut << escaped_text(app::message_heading(message)) << ":\n  " << escaped_text(message.text)
                       << std::endl;
    }
}

} // namespace tiv::cli
