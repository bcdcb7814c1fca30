#pragma once

#include <string>

#include "app/questions.h"

namespace tiv::ui {

// The box a window's refresh timer shows when a refresh fails. A box runs its own event loop, in which the timer
// keeps firing: while one is up, refreshes are skipped, so boxes never stack.
class RefreshErrorBox {
public:
    // `caption` names the list, e.g. "Incoming update error".
    RefreshErrorBox(app::questions& questions, const char* caption) : m_oQuestions(questions), m_pCaption(caption) {}

    [[nodiscard]] bool showing() const { return m_bShowing; }
    // Logs the reason (the activity log keeps it only while logging is on; the program's own output always does)
    // and shows the box.
    void report(const std::string& reason);

private:
    app::questions& m_oQuestions;
    const char* m_pCaption;
    bool m_bShowing = false;
};

} // namespace tiv::ui
