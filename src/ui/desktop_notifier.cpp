#include "ui/desktop_notifier.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace tiv::ui {

DesktopNotifier::DesktopNotifier() : m_oBus(QDBusConnection::sessionBus()) {}

void DesktopNotifier::notify(const QString& summary, const QString& body) {
    if (!m_oBus.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        "org.freedesktop.Notifications", "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "Notify");
    constexpr quint32 replaces_none = 0;
    constexpr qint32 servers_own_timeout = -1;
    call << QString("Quorvel") << replaces_none << QString("quorvel") << summary << body << QStringList()
         << QVariantMap() << servers_own_timeout;
    // Fire and forget: the id the service answers with is of no use to us.
    (void)m_oBus.send(call);
}

} // namespace tiv::ui
