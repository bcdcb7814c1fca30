#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/program.h"
#include "ui/desktop_notifier.h"
#include "ui/main_window.h"

namespace tiv::ui {

// The program in the desktop's tray: the tooltip says where it receives (or why it does not), the menu sends files,
// opens the main window or quits, and a click shows or hides the main window. Its notices are the tray's own
// messages. Made where the desktop has a tray (QSystemTrayIcon::isSystemTrayAvailable()); the window outlives it.
class TrayIcon final : public QObject, public Notifier {
    Q_OBJECT
public:
    // Read again on this period, as the main window reads its listening line.
    static constexpr int refresh_period_ms = 1000;

    TrayIcon(app::program& program, MainWindow& window);

    void notify(const QString& summary, const QString& body) override;
    // The main window shown, raised and given the focus, minimized or hidden as it was.
    void openMainWindow();
    // "Quit": the main window's own end, with its question about transfers still running.
    void quit();
    // Once the program has ended, there is nothing left to come back to.
    void hide() { m_oIcon.hide(); }

    [[nodiscard]] QString toolTip() const { return m_oIcon.toolTip(); }
    [[nodiscard]] QMenu& menu() { return m_oMenu; }

signals:
    // "Send Files...", as the main window's button asks it.
    void sendFilesRequested();

private:
    void refreshToolTip();
    void activated(QSystemTrayIcon::ActivationReason reason);

    app::program& m_oProgram;
    MainWindow& m_oWindow;
    QMenu m_oMenu;
    QSystemTrayIcon m_oIcon;
    QTimer m_oRefreshTimer;
};

} // namespace tiv::ui
