#pragma once

#include <QMimeData>
#include <string>
#include <vector>

namespace tiv::ui {

// The local files and folders a drag carries; empty when it carries anything else (a web link, text), which no
// window of the program takes.
[[nodiscard]] std::vector<std::string> droppedLocalPaths(const QMimeData& data);

} // namespace tiv::ui
