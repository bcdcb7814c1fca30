#pragma once

#include <QObject>
#include <QWidget>

namespace tiv::ui {

// The widget a dialog lays its controls on, inside a scroll area that fills the dialog. The dialog opens as large
// as its controls want, but may be made as small as the screen needs: on a small screen or at a large scale factor
// it scrolls rather than squeezing its fields until they are cut through.
[[nodiscard]] QWidget* scrollingContent(QWidget* dialog);

// Keeps a window inside the available area of its screen: no wider or taller than that area (unless its minimum
// size forbids it), and moved so that none of it is off the screen.
void fitToScreen(QWidget* window);

// Fits every window of the program to its screen as it is first shown (fitToScreen), whatever size its own code
// asked for; install it on the application.
class ScreenFit final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace tiv::ui
