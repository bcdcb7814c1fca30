#pragma once

#include <QDialog>

namespace tiv::ui {

// "About Quorvel": the name and version and the licence agreement. The same box is the first-run notice, so
// every user has seen the licence before the program does anything else.
class AboutBox final : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);
};

} // namespace tiv::ui
