#include "ui/qt_questions.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QStringList>

#include "ui/message_style.h"

namespace tiv::ui {

namespace {
QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

std::string plain(const QString& text) {
    return text.toStdString();
}
} // namespace

QString qtFilterText(const std::vector<app::file_filter>& filters) {
    QStringList parts;
    for (const app::file_filter& filter : filters) {
        QStringList patterns = qt(filter.patterns).split(';', Qt::SkipEmptyParts);
        // "*.*" matches only names with a dot on Linux; every file is what the label promises.
        for (QString& pattern : patterns) {
            if (pattern == "*.*") {
                pattern = "*";
            }
        }
        parts << qt(filter.label) + " (" + patterns.join(' ') + ")";
    }
    return parts.join(";;");
}

QuestionsOver::QuestionsOver(app::questions& questions, QWidget* window)
    : m_pQuestions(dynamic_cast<QtQuestions*>(&questions)) {
    if (m_pQuestions) {
        m_pPrevious = m_pQuestions->m_pParent;
        m_pQuestions->m_pParent = window;
    }
}

QuestionsOver::~QuestionsOver() {
    if (m_pQuestions) {
        m_pQuestions->m_pParent = m_pPrevious;
    }
}

int QtQuestions::ask(const std::string& text, const std::string& caption, unsigned style) {
    QMessageBox box(iconOf(style), qt(caption), displayText(text), buttonsOf(style), m_pParent);
    return answerOf(static_cast<QMessageBox::StandardButton>(box.exec()));
}

std::optional<std::string> QtQuestions::choose_save_file(const app::file_chooser& chooser) {
    const QString path =
        QFileDialog::getSaveFileName(m_pParent, qt(chooser.title), qt(chooser.suggested), qtFilterText(chooser.filters),
                                     nullptr, QFileDialog::DontUseNativeDialog);
    return path.isEmpty() ? std::nullopt : std::optional<std::string>(plain(path));
}

std::optional<std::string> QtQuestions::choose_open_file(const app::file_chooser& chooser) {
    const QString path =
        QFileDialog::getOpenFileName(m_pParent, qt(chooser.title), qt(chooser.suggested), qtFilterText(chooser.filters),
                                     nullptr, QFileDialog::DontUseNativeDialog);
    return path.isEmpty() ? std::nullopt : std::optional<std::string>(plain(path));
}

std::vector<std::string> QtQuestions::choose_open_files(const app::file_chooser& chooser) {
    const QStringList paths =
        QFileDialog::getOpenFileNames(m_pParent, qt(chooser.title), QString(), qtFilterText(chooser.filters), nullptr,
                                      QFileDialog::DontUseNativeDialog);
    std::vector<std::string> chosen;
    for (const QString& path : paths) {
        chosen.push_back(plain(path));
    }
    return chosen;
}

std::optional<std::string> QtQuestions::choose_folder(const std::string& title) {
    const QString path = QFileDialog::getExistingDirectory(
        m_pParent, qt(title), QString(), QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    return path.isEmpty() ? std::nullopt : std::optional<std::string>(plain(path));
}

std::optional<std::string> QtQuestions::choose_one(const std::string& text, const std::string& caption,
                                                   const std::vector<std::string>& items) {
    QStringList choices;
    for (const std::string& item : items) {
        choices << qt(item);
    }
    bool chosen = false;
    const QString choice = QInputDialog::getItem(m_pParent, qt(caption), qt(text), choices, 0, false, &chosen);
    return chosen ? std::optional<std::string>(plain(choice)) : std::nullopt;
}

} // namespace tiv::ui
