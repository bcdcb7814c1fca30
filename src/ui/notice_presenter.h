#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <deque>

#include "app/events.h"

namespace tiv::ui {

// Shows the notices workers raise, one box at a time and never modal: nobody waits on them, and a box per
// notice would bury the screen when a stranger's connections keep failing. A notice equal to the one shown, or
// to one already waiting, is dropped.
class NoticePresenter final : public QObject {
    Q_OBJECT
public:
    explicit NoticePresenter(QWidget* parent);

    void present(const app::notice& message);

    // The box on screen, if any (tests read and close it).
    [[nodiscard]] QMessageBox* shownBox() const { return m_pShown; }
    [[nodiscard]] std::size_t waitingCount() const { return m_aWaiting.size(); }

private:
    void showNext();

    QPointer<QWidget> m_pParent;
    QPointer<QMessageBox> m_pShown;
    app::notice m_oShownNotice;
    std::deque<app::notice> m_aWaiting;
};

} // namespace tiv::ui
