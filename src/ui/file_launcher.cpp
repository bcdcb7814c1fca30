#include "ui/file_launcher.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace tiv::ui {

namespace {
const QString file_manager_service = QStringLiteral("org.freedesktop.FileManager1");
} // namespace

bool DesktopLauncher::open(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool DesktopLauncher::showInFolder(const QString& path) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Asked only where a file manager has the name (or can be started for it), so a desktop without one falls
    // back at once instead of waiting for the bus's time-out.
    const QDBusConnectionInterface* names = bus.isConnected() ? bus.interface() : nullptr;
    const bool offered = names != nullptr && (names->isServiceRegistered(file_manager_service).value() ||
                                              names->activatableServiceNames().value().contains(file_manager_service));
    if (offered) {
        QDBusMessage show = QDBusMessage::createMethodCall(file_manager_service, "/org/freedesktop/FileManager1",
                                                           file_manager_service, "ShowItems");
        show << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
        if (bus.send(show)) {
            return true;
        }
    }
    return open(QFileInfo(path).absolutePath());
}

FileLauncher& desktopLauncher() {
    static DesktopLauncher launcher;
    return launcher;
}

} // namespace tiv::ui
