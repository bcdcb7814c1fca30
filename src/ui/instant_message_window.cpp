#include "ui/instant_message_window.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPointer>
#include <QThreadPool>
#include <QVBoxLayout>

#include "ui/message_console.h"

namespace tiv::ui {

InstantMessageWindow::InstantMessageWindow(app::program& program, const QString& friendName, QWidget* parent)
    : QDialog(parent), m_oProgram(program), m_strFriend(friendName.toStdString()) {
    setWindowTitle(friendName);
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);
    setMinimumSize(MessageConsole::smallest_size);
    m_pConversation = new QPlainTextEdit(this);
    m_pConversation->setObjectName("conversationText");
    m_pConversation->setAccessibleName("Messages sent");
    m_pConversation->setReadOnly(true);
    m_pSend = new QPushButton("Send", this);
    m_pSend->setObjectName("sendButton");
    m_pSend->setDefault(true);
    m_pTyped = new QLineEdit(this);
    m_pTyped->setObjectName("messageEdit");
    m_pTyped->setAccessibleName("Message");
    m_pTyped->setMaxLength(static_cast<int>(app::max_message_text));
    m_pDelivery = new QLabel(this);
    m_pDelivery->setObjectName("deliveryLabel");
    m_pDelivery->setAccessibleName("Delivery");
    m_pDelivery->setWordWrap(true);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_pSend);
    bottom->addWidget(m_pTyped, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pConversation, 1);
    layout->addLayout(bottom);
    layout->addWidget(m_pDelivery);
    connect(m_pSend, &QPushButton::clicked, this, &InstantMessageWindow::sendTyped);
    m_pTyped->setFocus();
}

void InstantMessageWindow::sendTyped() {
    const QString typed = m_pTyped->text();
    if (m_bSending || typed.trimmed().isEmpty()) {
        return;
    }
    m_bSending = true;
    m_pSend->setEnabled(false);
    m_pTyped->clear();
    m_pConversation->appendPlainText("==> " + typed);
    m_pDelivery->setText("sending...");
    // The reply is checked on the window thread, so a window deleted meanwhile is never touched; the program
    // outlives every job of the pool (main waits for them).
    const QPointer<InstantMessageWindow> window(this);
    QThreadPool::globalInstance()->start(
        [window, &program = m_oProgram, name = m_strFriend, text = typed.toStdString()] {
            const app::friend_reply reply = app::send_message(program, name, text);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [window, reply] {
                    if (window) {
                        window->takeReply(reply);
                    }
                },
                Qt::QueuedConnection);
        });
}

void InstantMessageWindow::takeReply(const app::friend_reply& reply) {
    m_bSending = false;
    m_pSend->setEnabled(true);
    const QString words = QString::fromStdString(reply.words);
    m_pConversation->appendPlainText("    " + words);
    m_pDelivery->setText(words);
}

} // namespace tiv::ui
