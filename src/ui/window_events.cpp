#include "ui/window_events.h"

#include <QMetaObject>

namespace tiv::ui {

// Each event travels by value inside the queued call: the worker's copy may be gone before the window runs it.
void WindowEvents::log(const app::log_event& line) {
    QMetaObject::invokeMethod(
        this, [this, line] { emit logged(line); }, Qt::QueuedConnection);
}

void WindowEvents::message(const app::received_message& message) {
    QMetaObject::invokeMethod(
        this, [this, message] { emit messageReceived(message); }, Qt::QueuedConnection);
}

} // namespace tiv::ui
