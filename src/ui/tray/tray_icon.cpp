#include "ui/tray/tray_icon.h"

#include "app/receive_service.h"
#include "ui/program_resources.h"

namespace tiv::ui {

namespace {
QAction* addItem(QMenu& menu, const char* text, const char* objectName) {
    QAction* item = menu.addAction(QString::fromLatin1(text));
    item->setObjectName(objectName);
    return item;
}
} // namespace

TrayIcon::TrayIcon(app::program& program, MainWindow& window) : m_oProgram(program), m_oWindow(window) {
    m_oMenu.setObjectName("trayMenu");
    connect(addItem(m_oMenu, "Send Files...", "traySendFilesAction"), &QAction::triggered, this,
            &TrayIcon::sendFilesRequested);
    connect(addItem(m_oMenu, "Open Quorvel", "trayOpenAction"), &QAction::triggered, this, &TrayIcon::openMainWindow);
    m_oMenu.addSeparator();
    connect(addItem(m_oMenu, "Quit", "trayQuitAction"), &QAction::triggered, this, &TrayIcon::quit);
    m_oIcon.setIcon(programIcon());
    m_oIcon.setContextMenu(&m_oMenu);
    connect(&m_oIcon, &QSystemTrayIcon::activated, this, &TrayIcon::activated);
    connect(&m_oRefreshTimer, &QTimer::timeout, this, &TrayIcon::refreshToolTip);
    m_oRefreshTimer.start(refresh_period_ms);
    refreshToolTip();
    m_oIcon.show();
}

void TrayIcon::notify(const QString& summary, const QString& body) {
    m_oIcon.showMessage(summary, body, QSystemTrayIcon::Information);
}

// The address is the one the main window's listening line names: where the listener is bound now.
void TrayIcon::refreshToolTip() {
    const app::status& why = m_oProgram.listen_status();
    const bool listening = why.ok() && m_oProgram.incoming().listening();
    const QString text = listening ? "Receiving on " + QString::fromStdString(m_oProgram.incoming().bound_address())
                                   : "Not receiving: " + QString::fromStdString(why.ok() ? "stopped." : why.text());
    if (m_oIcon.toolTip() != text) {
        m_oIcon.setToolTip(text);
    }
}

void TrayIcon::openMainWindow() {
    m_oWindow.showNormal();
    m_oWindow.raise();
    m_oWindow.activateWindow();
}

// Not the close box's way: that may only put the window away. A question about running transfers comes up on its
// own, over the window or not.
void TrayIcon::quit() {
    m_oWindow.close();
}

// A click on the icon puts the window away when it is in view, and brings it back otherwise; the menu has its own
// button.
void TrayIcon::activated(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger) {
        return;
    }
    if (m_oWindow.isVisible() && !m_oWindow.isMinimized()) {
        m_oWindow.hide();
    } else {
        openMainWindow();
    }
}

} // namespace tiv::ui
