#pragma once

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QSystemTrayIcon>

#include "app/program.h"
#include "app/status.h"

namespace tiv::ui {

// The program's life beyond its window, in the user settings: whether closing the main window leaves it receiving
// in the tray, and whether it starts at login. Shown as they stand; apply() writes what the user changed.
class BackgroundOptionsBox final : public QGroupBox {
    Q_OBJECT
public:
    // `trayAvailable` says whether the desktop has a tray to keep the program in; the login entry starts `program`.
    explicit BackgroundOptionsBox(app::program& program, QWidget* parent = nullptr,
                                  bool trayAvailable = QSystemTrayIcon::isSystemTrayAvailable(),
                                  QString programPath = QCoreApplication::applicationFilePath());

    // Why a choice could not be written, naming what refused; ok when both are as shown.
    [[nodiscard]] app::status apply();

private:
    app::program& m_oProgram;
    QString m_strProgramPath;
    QCheckBox* m_pKeepReceiving = nullptr;
    QCheckBox* m_pStartAtLogin = nullptr;
};

} // namespace tiv::ui
