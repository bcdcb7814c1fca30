#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <unordered_map>

#include "ui/file_launcher.h"

namespace tiv::ui {

// A stored parcel a notice offers: "Open" for a single file, "Show in Folder" for one or several.
struct NoticeActions {
    QString path; // empty: no action
    bool several = false;
};

// Where the program's passing news goes: the desktop's notification service, or a recorder in a test.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString& summary, const QString& body) = 0;
    // The same, with the actions a desktop that offers actions shows on the notice.
    virtual void notifyOffering(const QString& summary, const QString& body, const NoticeActions& actions) {
        (void)actions;
        notify(summary, body);
    }
};

// The notices shown with actions, by the id the notification service gave them, until the service closes them.
class NoticeActionTable {
public:
    // The action list of the Notify call: key, caption, key, caption; "default" is a click on the notice itself.
    [[nodiscard]] static QStringList actionList(const NoticeActions& actions);

    void remember(quint32 id, const NoticeActions& actions);
    void forget(quint32 id) { m_aShown.erase(id); }
    // What the user clicked on notice `id`, carried out through `launcher`; false when that notice is not ours.
    bool invoke(quint32 id, const QString& key, FileLauncher& launcher) const;

private:
    std::unordered_map<quint32, NoticeActions> m_aShown;
};

// The desktop's notification service, reached over the session bus. News is only offered: without a session bus
// nothing is sent, and a bus without the service answers with an error nobody waits for, so no window ever
// stalls on it. Actions are offered once the service said it shows them.
class DesktopNotifier final : public QObject, public Notifier {
    Q_OBJECT
public:
    explicit DesktopNotifier(FileLauncher& launcher = desktopLauncher());

    // Whether a session bus was there to carry notifications.
    [[nodiscard]] bool connected() const { return m_oBus.isConnected(); }
    void notify(const QString& summary, const QString& body) override;
    void notifyOffering(const QString& summary, const QString& body, const NoticeActions& actions) override;

private slots:
    void takeCapabilities(const QStringList& capabilities);
    void takeShownId(quint32 id);
    void notShown();
    void actionInvoked(quint32 id, const QString& key);
    void notificationClosed(quint32 id, quint32 reason);

private:
    FileLauncher& m_oLauncher;
    QDBusConnection m_oBus;
    bool m_bActions = false;
    NoticeActionTable m_oShown;
    // The actions of the notices whose ids the service has not answered with yet, oldest first.
    std::vector<NoticeActions> m_aAwaitingIds;
};

} // namespace tiv::ui
