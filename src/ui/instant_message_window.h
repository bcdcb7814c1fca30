#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/friend_conversation.h"
#include "app/program.h"

namespace tiv::ui {

// Messages to one friend: what the user sends goes to the friend's program over the channel both pinned, and the
// delivery line under the text says what became of the last one ("delivered", "refused: messages are off for you",
// "not running"). Each is sent on a worker, one at a time; the answer comes back as a queued call that a window
// deleted meanwhile never receives.
class InstantMessageWindow final : public QDialog {
    Q_OBJECT
public:
    InstantMessageWindow(app::program& program, const QString& friendName, QWidget* parent = nullptr);

    // Sends the typed text; nothing while a message is on its way or nothing is typed.
    void sendTyped();

    [[nodiscard]] bool sending() const { return m_bSending; }
    [[nodiscard]] QPlainTextEdit* conversation() const { return m_pConversation; }
    [[nodiscard]] QLineEdit* typed() const { return m_pTyped; }
    [[nodiscard]] QLabel* delivery() const { return m_pDelivery; }

private:
    void takeReply(const app::friend_reply& reply);

    app::program& m_oProgram;
    std::string m_strFriend;
    bool m_bSending = false;
    QPlainTextEdit* m_pConversation = nullptr;
    QLineEdit* m_pTyped = nullptr;
    QPushButton* m_pSend = nullptr;
    // What became of the last message sent.
    QLabel* m_pDelivery = nullptr;
};

} // namespace tiv::ui
