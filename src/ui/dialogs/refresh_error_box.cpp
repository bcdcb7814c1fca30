#include "ui/dialogs/refresh_error_box.h"

#include <QtGlobal>

#include "app/activity_switch.h"
#include "ui/message_style.h"

namespace tiv::ui {

void RefreshErrorBox::report(const std::string& reason) {
    app::note_in_activity_log(std::string(m_pCaption) + ": " + reason);
    qWarning("%s: %s", m_pCaption, reason.c_str());
    m_bShowing = true;
    (void)m_oQuestions.ask(m_pCaption, "error", MB_OK);
    m_bShowing = false;
}

} // namespace tiv::ui
