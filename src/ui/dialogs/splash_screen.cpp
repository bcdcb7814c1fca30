#include "ui/dialogs/splash_screen.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

namespace tiv::ui {

SplashScreen::SplashScreen(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("splashScreen");
    setFixedSize(picture_size);
    setFocusPolicy(Qt::StrongFocus);
    m_oTimer.setSingleShot(true);
    // A coarse timer may fire 5% early, and the splash promises its three seconds.
    m_oTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_oTimer, &QTimer::timeout, this, &QWidget::close);
}

void SplashScreen::showCentred() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    show();
    raise();
    activateWindow();
    m_oTimer.start(shown_ms);
}

void SplashScreen::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    QLinearGradient sky(0, 0, 0, height());
    sky.setColorAt(0.0, QColor(0x1d, 0x3a, 0x5f));
    sky.setColorAt(1.0, QColor(0x3f, 0x7c, 0xac));
    painter.fillRect(rect(), sky);
    painter.setPen(Qt::white);
    QFont title = font();
    title.setPointSize(36);
    title.setBold(true);
    painter.setFont(title);
    painter.drawText(rect().adjusted(0, 0, 0, -60), Qt::AlignCenter, "Quorvel");
    QFont subtitle = font();
    subtitle.setPointSize(12);
    painter.setFont(subtitle);
    painter.drawText(rect().adjusted(0, 80, 0, 0), Qt::AlignCenter, "Parcels from friend to friend, V 1.2");
}

void SplashScreen::mousePressEvent(QMouseEvent* event) {
    event->accept();
    close();
}

void SplashScreen::keyPressEvent(QKeyEvent* event) {
    event->accept();
    close();
}

} // namespace tiv::ui
