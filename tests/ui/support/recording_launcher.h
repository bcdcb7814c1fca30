#pragma once

#include <QString>
#include <QStringList>

#include "ui/file_launcher.h"

namespace tiv::test {

// Keeps what the desktop would have been asked to open or show, and starts nothing.
class RecordingLauncher final : public ui::FileLauncher {
public:
    bool open(const QString& path) override {
        opened << path;
        return true;
    }
    bool showInFolder(const QString& path) override {
        shown << path;
        return true;
    }

    QStringList opened;
    QStringList shown;
};

} // namespace tiv::test
