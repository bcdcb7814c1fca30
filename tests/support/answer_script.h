#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/questions.h"

namespace tiv::test {

// The program's questions answered from a script: "the next question gets this answer", "the next file chooser
// returns this path". A question or chooser nobody scripted is reported through unexpected() and cancelled; each
// test framework reports it its own way.
class answer_script : public app::questions {
public:
    struct asked {
        std::string text;
        std::string caption;
        unsigned style;
    };

    void answer_next(int answer) { m_aAnswers.push_back(answer); }
    void choose_next(std::optional<std::string> path) { m_aPaths.push_back(std::move(path)); }

    [[nodiscard]] const std::vector<asked>& questions_asked() const { return m_aAsked; }
    [[nodiscard]] std::size_t unused_answers() const { return m_aAnswers.size() + m_aPaths.size(); }

    int ask(const std::string& text, const std::string& caption, unsigned style) override;
    std::optional<std::string> choose_save_file(const app::file_chooser& chooser) override;
    std::optional<std::string> choose_open_file(const app::file_chooser& chooser) override;
    std::vector<std::string> choose_open_files(const app::file_chooser& chooser) override;
    std::optional<std::string> choose_folder(const std::string& title) override;
    // Answered from the same script as the choosers.
    std::optional<std::string> choose_one(const std::string& text, const std::string& caption,
                                          const std::vector<std::string>& items) override;

protected:
    virtual void unexpected(const std::string& what) = 0;

private:
    std::optional<std::string> next_path(const std::string& title);

    std::deque<int> m_aAnswers;
    std::deque<std::optional<std::string>> m_aPaths;
    std::vector<asked> m_aAsked;
};

} // namespace tiv::test
