#pragma once

#include <QObject>

#include "app/program.h"
#include "ui/desktop_notifier.h"
#include "ui/main_window.h"

namespace tiv::ui {

// Where the desktop has a tray and the user keeps receiving in the background, the close box and Escape only put
// the main window away: the program goes on receiving, and the tray brings the window back. The first time, the
// tray says so. The quit paths ("&Exit", the tray's "Quit") end the program as ever, and so does every close where
// there is no tray.
class CloseToTray final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* notice = "Quorvel keeps receiving in the background. Quit from the tray icon's menu.";

    // `tray` tells the notice; null where the desktop has no tray, and closing then quits.
    CloseToTray(app::program& program, MainWindow& window, Notifier* tray);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    [[nodiscard]] bool putsAway() const;

    app::program& m_oProgram;
    MainWindow& m_oWindow;
    Notifier* m_pTray;
};

} // namespace tiv::ui
