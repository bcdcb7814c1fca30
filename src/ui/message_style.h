#pragma once

#include <QMessageBox>
#include <QString>
#include <string>

#include "app/questions.h"

namespace tiv::ui {

// The styles and answers of the program's questions, by the names every window uses.
using enum app::question_style;
using enum app::question_answer;

// The core's message box styles and answers keep the Windows values; these map them onto Qt's, both ways.
[[nodiscard]] inline QMessageBox::Icon iconOf(unsigned style) {
    switch (style & 0xF0U) {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONWARNING:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

[[nodiscard]] inline QMessageBox::StandardButtons buttonsOf(unsigned style) {
    switch (style & 0x0FU) {
    case MB_OKCANCEL:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MB_YESNO:
        return QMessageBox::Yes | QMessageBox::No;
    default:
        return QMessageBox::Ok;
    }
}

// A box closed without a button (Escape, the close box) answers as its cancelling button would.
[[nodiscard]] inline int answerOf(QMessageBox::StandardButton button) {
    switch (button) {
    case QMessageBox::Ok:
        return IDOK;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return IDCANCEL;
    }
}

// The core's texts break lines with "\r\n"; Qt wants '\n' alone.
[[nodiscard]] inline QString displayText(const std::string& text) {
    QString shown = QString::fromStdString(text);
    shown.remove('\r');
    return shown;
}

// The program's reasons start in lower case, to follow a colon; alone in a box, one starts a sentence.
[[nodiscard]] inline std::string sentenceText(std::string reason) {
    if (!reason.empty() && reason[0] >= 'a' && reason[0] <= 'z') {
        reason[0] = static_cast<char>(reason[0] - 'a' + 'A');
    }
    return reason;
}

} // namespace tiv::ui
