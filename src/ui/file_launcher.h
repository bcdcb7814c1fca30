#pragma once

#include <QString>

namespace tiv::ui {

// What the desktop does with a path on the user's behalf. Tests put one of their own in its place, to see what
// would have opened without starting anything.
class FileLauncher {
public:
    virtual ~FileLauncher() = default;
    // Opens a file with the application the desktop chose for it, or a folder in the file manager.
    virtual bool open(const QString& path) = 0;
    // The file manager on the file's folder with the file selected, where the file manager can select one
    // (org.freedesktop.FileManager1), else the folder alone.
    virtual bool showInFolder(const QString& path) = 0;
};

// The real desktop: xdg-open's choice of application through Qt, and the file manager over the session bus.
class DesktopLauncher final : public FileLauncher {
public:
    bool open(const QString& path) override;
    bool showInFolder(const QString& path) override;
};

// The process's desktop launcher.
[[nodiscard]] FileLauncher& desktopLauncher();

} // namespace tiv::ui
