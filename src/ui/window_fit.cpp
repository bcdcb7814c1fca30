#include "ui/window_fit.h"

#include <QEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

namespace tiv::ui {

namespace {
// Wants the whole size of its content, and asks for no more than a corner of it as its minimum, so the dialog
// may become as small as the screen needs.
class FittingScrollArea final : public QScrollArea {
public:
    [[nodiscard]] QSize sizeHint() const override {
        const QSize frame(2 * frameWidth(), 2 * frameWidth());
        return widget() ? widget()->sizeHint() + frame : QScrollArea::sizeHint();
    }
    [[nodiscard]] QSize minimumSizeHint() const override {
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        return {4 * bar, 4 * bar};
    }
};

constexpr const char* fitted_property = "quorvelFittedToScreen";
} // namespace

QWidget* scrollingContent(QWidget* dialog) {
    auto* outer = new QVBoxLayout(dialog);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* area = new FittingScrollArea;
    area->setObjectName("scrollingContent");
    area->setFrameShape(QFrame::NoFrame);
    // The controls take the focus in their order; the area scrolls to the one that has it.
    area->setFocusPolicy(Qt::NoFocus);
    area->setWidgetResizable(true);
    auto* content = new QWidget;
    area->setWidget(content);
    outer->addWidget(area);
    return content;
}

void fitToScreen(QWidget* window) {
    const QScreen* screen = window->screen();
    if (screen == nullptr) {
        return;
    }
    const QRect room = screen->availableGeometry();
    // The window manager's frame, once there is one, takes room too.
    const QSize frame = window->frameGeometry().size() - window->size();
    const QSize largest = (room.size() - frame).expandedTo(window->minimumSize());
    // Qt opens a window its code did not size at no more than two thirds of the screen; a dialog that scrolls
    // opens as large as its controls need where the screen has room for that, so it scrolls only where it must.
    QSize wanted = window->size();
    if (const auto* area = window->findChild<FittingScrollArea*>("scrollingContent", Qt::FindDirectChildrenOnly);
        area != nullptr && !window->testAttribute(Qt::WA_Resized)) {
        const QWidget* content = area->widget();
        wanted = wanted.expandedTo(content->minimumSizeHint());
        // The area lays wrapped text out at the height it prefers for the width, and scrolls below that.
        if (content->hasHeightForWidth()) {
            wanted.setHeight(std::max(wanted.height(), content->heightForWidth(wanted.width())));
        }
    }
    window->resize(wanted.boundedTo(largest));
    const QSize outside = window->size() + frame;
    const int x = std::clamp(window->x(), room.left(), std::max(room.left(), room.right() + 1 - outside.width()));
    const int y = std::clamp(window->y(), room.top(), std::max(room.top(), room.bottom() + 1 - outside.height()));
    window->move(x, y);
}

bool ScreenFit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* window = static_cast<QWidget*>(watched);
        const Qt::WindowType type = window->windowType();
        // Popups and tooltips place themselves; a window once fitted keeps what the user made of it.
        if (window->isWindow() && (type == Qt::Window || type == Qt::Dialog) &&
            !window->property(fitted_property).toBool()) {
            window->setProperty(fitted_property, true);
            fitToScreen(window);
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tiv::ui
