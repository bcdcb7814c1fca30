#include "support/scripted_questions.h"

#include <gtest/gtest.h>

namespace tiv::test {

scripted_questions::~scripted_questions() {
    EXPECT_TRUE(m_aAnswers.empty()) << m_aAnswers.size() << " scripted answer(s) nobody asked for";
    EXPECT_TRUE(m_aPaths.empty()) << m_aPaths.size() << " scripted file choice(s) nobody asked for";
}

int scripted_questions::ask(const std::string& text, const std::string& caption, unsigned style) {
    m_aAsked.push_back({text, caption, style});
    if (m_aAnswers.empty()) {
        ADD_FAILURE() << "unexpected question \"" << caption << "\": " << text;
        return IDCANCEL;
    }
    const int answer = m_aAnswers.front();
    m_aAnswers.pop_front();
    return answer;
}

std::optional<std::string> scripted_questions::next_path(const std::string& title) {
    if (m_aPaths.empty()) {
        ADD_FAILURE() << "unexpected chooser \"" << title << "\"";
        return std::nullopt;
    }
    std::optional<std::string> path = std::move(m_aPaths.front());
    m_aPaths.pop_front();
    return path;
}

std::optional<std::string> scripted_questions::choose_save_file(const app::file_chooser& chooser) {
    return next_path(chooser.title);
}

std::optional<std::string> scripted_questions::choose_open_file(const app::file_chooser& chooser) {
    return next_path(chooser.title);
}

std::vector<std::string> scripted_questions::choose_open_files(const app::file_chooser& chooser) {
    std::optional<std::string> path = next_path(chooser.title);
    return path ? std::vector<std::string>{*path} : std::vector<std::string>{};
}

std::optional<std::string> scripted_questions::choose_folder(const std::string& title) {
    return next_path(title);
}

void recorded_events::log(const app::log_event& line) {
    std::lock_guard guard(m_oLock);
    m_aLines.push_back(line);
}

void recorded_events::transfer_changed(const transfer_snapshot& transfer) {
    std::lock_guard guard(m_oLock);
    m_aTransfers.push_back(transfer);
}

void recorded_events::notice(const app::notice& message) {
    std::lock_guard guard(m_oLock);
    m_aNotices.push_back(message);
}

std::vector<app::log_event> recorded_events::lines() const {
    std::lock_guard guard(m_oLock);
    return m_aLines;
}

std::vector<transfer_snapshot> recorded_events::transfers() const {
    std::lock_guard guard(m_oLock);
    return m_aTransfers;
}

std::vector<app::notice> recorded_events::notices() const {
    std::lock_guard guard(m_oLock);
    return m_aNotices;
}

} // namespace tiv::test
