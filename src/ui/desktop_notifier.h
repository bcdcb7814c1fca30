#pragma once

#include <QDBusConnection>
#include <QString>

namespace tiv::ui {

// Where the program's passing news goes: the desktop's notification service, or a recorder in a test.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString& summary, const QString& body) = 0;
};

// The desktop's notification service, reached over the session bus. News is only offered: without a session bus
// nothing is sent, and a bus without the service answers with an error nobody waits for, so no window ever
// stalls on it.
class DesktopNotifier final : public Notifier {
public:
    DesktopNotifier();

    // Whether a session bus was there to carry notifications.
    [[nodiscard]] bool connected() const { return m_oBus.isConnected(); }
    void notify(const QString& summary, const QString& body) override;

private:
    QDBusConnection m_oBus;
};

} // namespace tiv::ui
