#pragma once

#include <QObject>

#include "app/events.h"

namespace tiv::ui {

// The core's events, handed over to the window thread. The sink's members run on whichever worker reported;
// each only queues a call to this object's thread, where the matching signal is emitted, so slots connected to
// these signals always run on the window thread and may touch widgets.
class WindowEvents final : public QObject, public app::event_sink {
    Q_OBJECT
public:
    explicit WindowEvents(QObject* parent = nullptr) : QObject(parent) {}

    void log(const app::log_event& line) override;
    void message(const app::received_message& message) override;

signals:
    void logged(const tiv::app::log_event& line);
    void messageReceived(const tiv::app::received_message& message);
};

} // namespace tiv::ui
