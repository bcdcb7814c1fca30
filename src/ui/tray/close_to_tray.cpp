#include "ui/tray/close_to_tray.h"

#include <QCloseEvent>
#include <QKeyEvent>

#include "app/settings/background_receiving.h"

namespace tiv::ui {

namespace {
// The close box comes from the window system; the quit paths call close() themselves.
bool closeBox(const QEvent& event) {
    return event.type() == QEvent::Close && event.spontaneous();
}

// As the main window takes it: only once no control of it, nor an open list, wanted the key.
bool escape(const QEvent& event) {
    if (event.type() != QEvent::KeyPress) {
        return false;
    }
    const auto& key = static_cast<const QKeyEvent&>(event);
    return key.key() == Qt::Key_Escape && key.modifiers() == Qt::NoModifier;
}
} // namespace

CloseToTray::CloseToTray(app::program& program, MainWindow& window, Notifier* tray)
    : m_oProgram(program), m_oWindow(window), m_pTray(tray) {
    m_oWindow.installEventFilter(this);
}

// The user's choice is read at each close, so a change in the user settings counts at once.
bool CloseToTray::putsAway() const {
    return m_pTray != nullptr && !m_oWindow.ended() && app::keeps_receiving_in_background(m_oProgram);
}

bool CloseToTray::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &m_oWindow || !(closeBox(*event) || escape(*event)) || !putsAway()) {
        return false;
    }
    // A close refused keeps the window; a key taken goes no further.
    event->setAccepted(event->type() != QEvent::Close);
    m_oWindow.hide();
    if (app::claim_background_notice(m_oProgram)) {
        m_pTray->notify("Quorvel", notice);
    }
    return true;
}

} // namespace tiv::ui
