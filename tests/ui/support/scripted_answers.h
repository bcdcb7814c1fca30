#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/questions.h"

namespace tiv::test {

// The desktop program's questions answered from a script, for QTest suites: a question or chooser nobody
// scripted fails the running test (and is cancelled); answers left over are reported by unusedAnswers().
class ScriptedAnswers final : public app::questions {
public:
    struct asked {
        std::string text;
        std::string caption;
        unsigned style;
    };

    void answerNext(int answer) { m_aAnswers.push_back(answer); }
    void chooseNext(std::optional<std::string> path) { m_aPaths.push_back(std::move(path)); }

    [[nodiscard]] const std::vector<asked>& asked_so_far() const { return m_aAsked; }
    [[nodiscard]] std::size_t unusedAnswers() const { return m_aAnswers.size() + m_aPaths.size(); }

    int ask(const std::string& text, const std::string& caption, unsigned style) override;
    std::optional<std::string> choose_save_file(const app::file_chooser& chooser) override;
    std::optional<std::string> choose_open_file(const app::file_chooser& chooser) override;
    std::vector<std::string> choose_open_files(const app::file_chooser& chooser) override;
    std::optional<std::string> choose_folder(const std::string& title) override;

private:
    std::optional<std::string> nextPath(const std::string& title);

    std::deque<int> m_aAnswers;
    std::deque<std::optional<std::string>> m_aPaths;
    std::vector<asked> m_aAsked;
};

} // namespace tiv::test
