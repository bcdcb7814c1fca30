#include "ui/dropped_files.h"

#include <QUrl>

namespace tiv::ui {

std::vector<std::string> droppedLocalPaths(const QMimeData& data) {
    std::vector<std::string> paths;
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile()) {
            return {};
        }
        paths.push_back(url.toLocalFile().toStdString());
    }
    return paths;
}

} // namespace tiv::ui
