#pragma once

#include <QPoint>

namespace tiv::ui {

// Where the next send window opens: shared by every send window of the process, so each new one steps to the
// right of the last, row by row, and starts over at the top once it would leave a small screen.
[[nodiscard]] QPoint nextSendWindowPosition();

} // namespace tiv::ui
