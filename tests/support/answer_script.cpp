#include "support/answer_script.h"

namespace tiv::test {

int answer_script::ask(const std::string& text, const std::string& caption, unsigned style) {
    m_aAsked.push_back({text, caption, style});
    if (m_aAnswers.empty()) {
        unexpected("unexpected question \"" + caption + "\": " + text);
        return app::IDCANCEL;
    }
    const int answer = m_aAnswers.front();
    m_aAnswers.pop_front();
    return answer;
}

std::optional<std::string> answer_script::next_path(const std::string& title) {
    if (m_aPaths.empty()) {
        unexpected("unexpected chooser \"" + title + "\"");
        return std::nullopt;
    }
    std::optional<std::string> path = std::move(m_aPaths.front());
    m_aPaths.pop_front();
    return path;
}

std::optional<std::string> answer_script::choose_save_file(const app::file_chooser& chooser) {
    return next_path(chooser.title);
}

std::optional<std::string> answer_script::choose_open_file(const app::file_chooser& chooser) {
    return next_path(chooser.title);
}

std::vector<std::string> answer_script::choose_open_files(const app::file_chooser& chooser) {
    std::optional<std::string> path = next_path(chooser.title);
    return path ? std::vector<std::string>{*path} : std::vector<std::string>{};
}

std::optional<std::string> answer_script::choose_folder(const std::string& title) {
    return next_path(title);
}

std::optional<std::string> answer_script::choose_one(const std::string&, const std::string& caption,
                                                     const std::vector<std::string>&) {
    return next_path(caption);
}

} // namespace tiv::test
