#pragma once

#include <QTimer>
#include <QWidget>

namespace tiv::ui {

// The picture over the main window at every start: 500 x 300, centred on the screen, gone after three seconds
// or at once on a click or a key, which it swallows. The timer runs whatever is shown, so the splash can never
// stay for good.
class SplashScreen final : public QWidget {
    Q_OBJECT
public:
    static constexpr int shown_ms = 3000;
    static constexpr QSize picture_size{500, 300};

    explicit SplashScreen(QWidget* parent = nullptr);

    // Shows it centred on the screen and starts the timer.
    void showCentred();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTimer m_oTimer;
};

} // namespace tiv::ui
