#include "ui/dialogs/key_making_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace tiv::ui {

KeyMakingWindow::KeyMakingWindow(QWidget* parent) : QWidget(parent, Qt::Dialog) {
    setWindowTitle("Making Your Keys");
    auto* words = new QLabel("Quorvel is making your keys: they prove to your friends that parcels come from you, "
                             "and let only you open what they send you.\nThis takes a few seconds, once.");
    words->setWordWrap(true);
    auto* busy = new QProgressBar;
    busy->setObjectName("busyBar");
    busy->setAccessibleName("Making keys");
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(words);
    layout->addWidget(busy);
    setFixedWidth(420);
    setCursor(Qt::BusyCursor);
}

void KeyMakingWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
}

} // namespace tiv::ui
