#include "ui/message_console.h"

#include <QHBoxLayout>
#include <QScrollBar>
#include <QVBoxLayout>

#include "app/activity_feed.h"

namespace tiv::ui {

MessageConsole::MessageConsole(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Message Console");
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);
    setMinimumSize(smallest_size);
    m_pText = new QPlainTextEdit(this);
    m_pText->setObjectName("logText");
    m_pText->setAccessibleName("Messages");
    m_pText->setReadOnly(true);
    m_pText->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_pText->setMaximumBlockCount(kept_lines);
    m_pCommentButton = new QPushButton("Comment", this);
    m_pCommentButton->setObjectName("commentButton");
    m_pCommentButton->setDefault(true);
    m_pComment = new QLineEdit(this);
    m_pComment->setObjectName("commentEdit");
    m_pComment->setAccessibleName("Comment");

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_pCommentButton);
    bottom->addWidget(m_pComment, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pText, 1);
    layout->addLayout(bottom);
    // Only the button and Return add a comment: adding one whenever the box lost the focus filled the text with
    // empty lines each time the user clicked elsewhere.
    connect(m_pCommentButton, &QPushButton::clicked, this, &MessageConsole::addComment);
}

void MessageConsole::appendLine(const QString& line) {
    m_pText->appendPlainText(line);
    m_pText->verticalScrollBar()->setValue(m_pText->verticalScrollBar()->maximum());
}

void MessageConsole::addComment() {
    const QString typed = m_pComment->text();
    m_pComment->clear();
    // A click or Return with nothing typed is no comment.
    if (typed.trimmed().isEmpty()) {
        return;
    }
    // Through the log itself, so the comment takes its place among lines other threads are adding now.
    app::comment_on_activity(typed.toStdString());
}

void MessageConsole::toggleShown() {
    if (isVisible()) {
        hide();
        return;
    }
    show();
    raise();
    activateWindow();
}

} // namespace tiv::ui
