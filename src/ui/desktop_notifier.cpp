#include "ui/desktop_notifier.h"

#include <QDBusMessage>
#include <QVariantMap>

namespace tiv::ui {

namespace {
const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString object = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
} // namespace

QStringList NoticeActionTable::actionList(const NoticeActions& actions) {
    if (actions.path.isEmpty()) {
        return {};
    }
    if (actions.several) {
        return {"default", "Show in Folder", "show", "Show in Folder"};
    }
    return {"default", "Open", "open", "Open", "show", "Show in Folder"};
}

void NoticeActionTable::remember(quint32 id, const NoticeActions& actions) {
    if (!actions.path.isEmpty()) {
        m_aShown[id] = actions;
    }
}

bool NoticeActionTable::invoke(quint32 id, const QString& key, FileLauncher& launcher) const {
    const auto shown = m_aShown.find(id);
    if (shown == m_aShown.end()) {
        return false;
    }
    const NoticeActions& actions = shown->second;
    const bool opens = key == "open" || (key == "default" && !actions.several);
    return opens ? launcher.open(actions.path) : launcher.showInFolder(actions.path);
}

DesktopNotifier::DesktopNotifier(FileLauncher& launcher)
    : m_oLauncher(launcher), m_oBus(QDBusConnection::sessionBus()) {
    if (!m_oBus.isConnected()) {
        return;
    }
    m_oBus.connect(service, object, interface, "ActionInvoked", this, SLOT(actionInvoked(quint32, QString)));
    m_oBus.connect(service, object, interface, "NotificationClosed", this, SLOT(notificationClosed(quint32, quint32)));
    (void)m_oBus.callWithCallback(QDBusMessage::createMethodCall(service, object, interface, "GetCapabilities"), this,
                                  SLOT(takeCapabilities(QStringList)));
}

void DesktopNotifier::notify(const QString& summary, const QString& body) {
    notifyOffering(summary, body, NoticeActions{});
}

void DesktopNotifier::notifyOffering(const QString& summary, const QString& body, const NoticeActions& actions) {
    if (!m_oBus.isConnected()) {
        return;
    }
    const QStringList offered = m_bActions ? NoticeActionTable::actionList(actions) : QStringList();
    QDBusMessage call = QDBusMessage::createMethodCall(service, object, interface, "Notify");
    constexpr quint32 replaces_none = 0;
    constexpr qint32 servers_own_timeout = -1;
    call << QString("Quorvel") << replaces_none << QString("quorvel") << summary << body << offered << QVariantMap()
         << servers_own_timeout;
    if (offered.isEmpty()) {
        // Fire and forget: the id the service answers with is of no use without actions.
        (void)m_oBus.send(call);
        return;
    }
    // The bus answers in the order it was asked.
    if (m_oBus.callWithCallback(call, this, SLOT(takeShownId(quint32)), SLOT(notShown()))) {
        m_aAwaitingIds.push_back(actions);
    }
}

void DesktopNotifier::takeCapabilities(const QStringList& capabilities) {
    m_bActions = capabilities.contains("actions");
}

void DesktopNotifier::takeShownId(quint32 id) {
    if (m_aAwaitingIds.empty()) {
        return;
    }
    m_oShown.remember(id, m_aAwaitingIds.front());
    m_aAwaitingIds.erase(m_aAwaitingIds.begin());
}

void DesktopNotifier::notShown() {
    if (!m_aAwaitingIds.empty()) {
        m_aAwaitingIds.erase(m_aAwaitingIds.begin());
    }
}

void DesktopNotifier::actionInvoked(quint32 id, const QString& key) {
    (void)m_oShown.invoke(id, key, m_oLauncher);
}

void DesktopNotifier::notificationClosed(quint32 id, quint32 reason) {
    (void)reason;
    m_oShown.forget(id);
}

} // namespace tiv::ui
