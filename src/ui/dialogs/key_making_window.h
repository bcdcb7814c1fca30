#pragma once

#include <QWidget>

namespace tiv::ui {

// Shown while a new user's keys are made at the first start, which takes seconds with nothing else on the screen.
// OpenSSL reports no progress, so a moving bar says only that the program is working, not how far it is.
class KeyMakingWindow final : public QWidget {
    Q_OBJECT
public:
    explicit KeyMakingWindow(QWidget* parent = nullptr);

protected:
    // The keys cannot be made half way: the window goes when they are done, not before.
    void closeEvent(QCloseEvent* event) override;
};

} // namespace tiv::ui
