#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace tiv::ui {

// A text that only grows, with a line for the user's own comments: the activity log's console shows the lines the
// program logs, friends' messages, and comments among them (never in the log file). Closing or Escape only hides
// it, so the text is there when it is shown again; Return adds the comment.
class MessageConsole final : public QDialog {
    Q_OBJECT
public:
    // Enough for a day of busy transfers; older lines scroll away on screen, the log file keeps them all.
    static constexpr int kept_lines = 20000;
    static constexpr QSize smallest_size{200, 200};

    explicit MessageConsole(QWidget* parent = nullptr);

    // Adds one line at the end and scrolls to it; the comment being typed is left alone.
    void appendLine(const QString& line);
    // "==> " and the typed text; the box is emptied.
    void addComment();
    // What "&Activity Log..." does: hides a shown console, shows and raises a hidden one.
    void toggleShown();

    [[nodiscard]] QPlainTextEdit* text() const { return m_pText; }
    [[nodiscard]] QLineEdit* comment() const { return m_pComment; }
    [[nodiscard]] QPushButton* commentButton() const { return m_pCommentButton; }

private:
    QPlainTextEdit* m_pText = nullptr;
    QLineEdit* m_pComment = nullptr;
    QPushButton* m_pCommentButton = nullptr;
};

} // namespace tiv::ui
