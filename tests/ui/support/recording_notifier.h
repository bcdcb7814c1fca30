#pragma once

#include <QString>
#include <vector>

#include "ui/desktop_notifier.h"

namespace tiv::test {

// Keeps the notifications a program would have shown on the desktop.
class RecordingNotifier final : public ui::Notifier {
public:
    struct shown {
        QString summary;
        QString body;
        QString offered; // the stored parcel the notice offers to open or show
    };

    void notify(const QString& summary, const QString& body) override { m_aShown.push_back({summary, body, {}}); }
    void notifyOffering(const QString& summary, const QString& body, const ui::NoticeActions& actions) override {
        m_aShown.push_back({summary, body, actions.path});
    }

    [[nodiscard]] const std::vector<shown>& shown_so_far() const { return m_aShown; }

private:
    std::vector<shown> m_aShown;
};

} // namespace tiv::test
