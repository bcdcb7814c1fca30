#pragma once

#include <QPointer>
#include <QWidget>

#include "app/questions.h"

namespace tiv::ui {

// The program's questions as the desktop shows them: message boxes and Qt's own file choosers, on the window
// thread, over `parent` while it lives. Every window asks through the app layer's interface, so tests answer
// from a script instead.
class QtQuestions final : public app::questions {
public:
    QtQuestions() = default;
    // Dialogs open over this window (centred on it, modal to it); none makes them free-standing.
    void setParent(QWidget* parent) { m_pParent = parent; }

    int ask(const std::string& text, const std::string& caption, unsigned style) override;
    std::optional<std::string> choose_save_file(const app::file_chooser& chooser) override;
    std::optional<std::string> choose_open_file(const app::file_chooser& chooser) override;
    std::vector<std::string> choose_open_files(const app::file_chooser& chooser) override;
    std::optional<std::string> choose_folder(const std::string& title) override;
    std::optional<std::string> choose_one(const std::string& text, const std::string& caption,
                                          const std::vector<std::string>& items) override;

private:
    friend class QuestionsOver;
    QPointer<QWidget> m_pParent;
};

// While it lives, the desktop's questions open over `window`: a question about one window is asked on it. Other
// questions (a test's script) are left as they are.
class QuestionsOver {
public:
    QuestionsOver(app::questions& questions, QWidget* window);
    QuestionsOver(const QuestionsOver&) = delete;
    QuestionsOver& operator=(const QuestionsOver&) = delete;
    ~QuestionsOver();

private:
    QtQuestions* m_pQuestions;
    QPointer<QWidget> m_pPrevious;
};

// "Profile Files (*.prf);;All Files (*)": Qt's filter text for a chooser's filters.
[[nodiscard]] QString qtFilterText(const std::vector<app::file_filter>& filters);

} // namespace tiv::ui
