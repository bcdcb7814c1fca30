#include "ui/support/scripted_answers.h"

#include <QTest>

namespace tiv::test {

int ScriptedAnswers::ask(const std::string& text, const std::string& caption, unsigned style) {
    m_aAsked.push_back({text, caption, style});
    if (m_aAnswers.empty()) {
        QTest::qFail(("unexpected question \"" + caption + "\": " + text).c_str(), __FILE__, __LINE__);
        return IDCANCEL;
    }
    const int answer = m_aAnswers.front();
    m_aAnswers.pop_front();
    return answer;
}

std::optional<std::string> ScriptedAnswers::nextPath(const std::string& title) {
    if (m_aPaths.empty()) {
        QTest::qFail(("unexpected chooser \"" + title + "\"").c_str(), __FILE__, __LINE__);
        return std::nullopt;
    }
    std::optional<std::string> path = std::move(m_aPaths.front());
    m_aPaths.pop_front();
    return path;
}

std::optional<std::string> ScriptedAnswers::choose_save_file(const app::file_chooser& chooser) {
    return nextPath(chooser.title);
}

std::optional<std::string> ScriptedAnswers::choose_open_file(const app::file_chooser& chooser) {
    return nextPath(chooser.title);
}

std::vector<std::string> ScriptedAnswers::choose_open_files(const app::file_chooser& chooser) {
    std::optional<std::string> path = nextPath(chooser.title);
    return path ? std::vector<std::string>{*path} : std::vector<std::string>{};
}

std::optional<std::string> ScriptedAnswers::choose_folder(const std::string& title) {
    return nextPath(title);
}

} // namespace tiv::test
