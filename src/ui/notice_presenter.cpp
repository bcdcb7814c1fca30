#include "ui/notice_presenter.h"

#include <QMessageBox>
#include <algorithm>

#include "ui/message_style.h"

namespace tiv::ui {

namespace {
bool sameNotice(const app::notice& a, const app::notice& b) {
    return a.text == b.text && a.caption == b.caption;
}
} // namespace

NoticePresenter::NoticePresenter(QWidget* parent) : QObject(parent), m_pParent(parent) {}

void NoticePresenter::present(const app::notice& message) {
    const bool repeated = (m_pShown && sameNotice(message, m_oShownNotice)) ||
                          std::any_of(m_aWaiting.begin(), m_aWaiting.end(),
                                      [&message](const app::notice& waiting) { return sameNotice(message, waiting); });
    if (repeated) {
        return;
    }
    m_aWaiting.push_back(message);
    if (!m_pShown) {
        showNext();
    }
}

void NoticePresenter::showNext() {
    if (m_aWaiting.empty()) {
        return;
    }
    m_oShownNotice = m_aWaiting.front();
    m_aWaiting.pop_front();
    auto* box = new QMessageBox(iconOf(m_oShownNotice.style), QString::fromStdString(m_oShownNotice.caption),
                                displayText(m_oShownNotice.text), QMessageBox::Ok, m_pParent);
    box->setObjectName("noticeBox");
    box->setModal(false);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QObject::destroyed, this, [this] {
        m_pShown = nullptr;
        showNext();
    });
    m_pShown = box;
    box->show();
}

} // namespace tiv::ui
