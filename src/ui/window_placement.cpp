#include "ui/window_placement.h"

namespace tiv::ui {

QPoint nextSendWindowPosition() {
    static QPoint next(20, 20);
    const QPoint position = next;
    next.rx() += 300;
    if (next.x() > 640) {
        next.ry() += 100;
        next.rx() = 20;
    }
    if (next.y() > 400) {
        next.ry() = 20;
    }
    return position;
}

} // namespace tiv::ui
