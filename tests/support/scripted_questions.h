#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/events.h"
#include "app/questions.h"

namespace tiv::test {

// Answers the program's questions from a script: "the next question gets this answer", "the next file chooser
// returns this path". A question nobody scripted fails the test (and is cancelled); an answer still queued when
// the object goes fails it too.
class scripted_questions final : public app::questions {
public:
    struct asked {
        std::string text;
        std::string caption;
        unsigned style;
    };

    scripted_questions() = default;
    ~scripted_questions() override;

    void answer_next(int answer) { m_aAnswers.push_back(answer); }
    void choose_next(std::optional<std::string> path) { m_aPaths.push_back(std::move(path)); }

    [[nodiscard]] const std::vector<asked>& questions_asked() const { return m_aAsked; }

    int ask(const std::string& text, const std::string& caption, unsigned style) override;
    std::optional<std::string> choose_save_file(const app::file_chooser& chooser) override;
    std::optional<std::string> choose_open_file(const app::file_chooser& chooser) override;
    std::vector<std::string> choose_open_files(const app::file_chooser& chooser) override;
    std::optional<std::string> choose_folder(const std::string& title) override;

private:
    std::optional<std::string> next_path(const std::string& title);

    std::deque<int> m_aAnswers;
    std::deque<std::optional<std::string>> m_aPaths;
    std::vector<asked> m_aAsked;
};

// Keeps every event, for tests to wait on and read from their own thread.
class recorded_events final : public app::event_sink {
public:
    void log(const app::log_event& line) override;
    void transfer_changed(const transfer_snapshot& transfer) override;
    void notice(const app::notice& message) override;

    [[nodiscard]] std::vector<app::log_event> lines() const;
    [[nodiscard]] std::vector<transfer_snapshot> transfers() const;
    [[nodiscard]] std::vector<app::notice> notices() const;

private:
    mutable std::mutex m_oLock;
    std::vector<app::log_event> m_aLines;
    std::vector<transfer_snapshot> m_aTransfers;
    std::vector<app::notice> m_aNotices;
};

} // namespace tiv::test
