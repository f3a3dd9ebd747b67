#include "Tarnwick/widgets/FittingScrollArea.h"

#include <QAbstractSlider>
#include <QApplication>
#include <QEvent>
#include <QScrollBar>
#include <algorithm>

FittingScrollArea::FittingScrollArea(int contentWidth, int minimumHeight, QWidget* parent)
    : QScrollArea(parent), contentWidth_(contentWidth), minimumHeight_(minimumHeight) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    // A focused scroll area shows no focus of its own; Page Up and Down reach it through the
    // window (scrollPages) and Tab goes straight to the controls.
    setFocusPolicy(Qt::NoFocus);
    // A control reached with the keyboard scrolls into view.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now != nullptr && widget() != nullptr && widget()->isAncestorOf(now))
            bringIntoView(now);
    });
}

void FittingScrollArea::bringIntoView(QWidget* child) {
    constexpr int margin = 8;
    if (child->height() + 2 * margin > viewport()->height()) {
        // Taller than the view: its top (a section's header) comes first, not its middle.
        verticalScrollBar()->setValue(child->mapTo(widget(), QPoint()).y() - margin);
    } else {
        ensureWidgetVisible(child, 0, margin);
    }
}

bool FittingScrollArea::focusNextPrevChild(bool next) {
    // The focus change has brought the new control into view already; QScrollArea's own step
    // would centre it again, and a tall section with its header out of view.
    return QWidget::focusNextPrevChild(next);
}

QSize FittingScrollArea::sizeHint() const {
    const QWidget* content = widget();
    if (content == nullptr) return {contentWidth_, minimumHeight_};
    const int height = content->hasHeightForWidth() ? content->heightForWidth(contentWidth_)
                                                    : content->sizeHint().height();
    return {contentWidth_, height + 2 * frameWidth()};
}

QSize FittingScrollArea::minimumSizeHint() const {
    return {contentWidth_, std::min(minimumHeight_, sizeHint().height())};
}

void FittingScrollArea::guardSliders() {
    if (widget() == nullptr) return;
    for (QAbstractSlider* slider : widget()->findChildren<QAbstractSlider*>()) {
        slider->installEventFilter(this);
    }
}

bool FittingScrollArea::scrollPages(int pages) {
    QScrollBar* bar = verticalScrollBar();
    const int before = bar->value();
    bar->setValue(before + pages * bar->pageStep());
    return bar->value() != before;
}

bool FittingScrollArea::eventFilter(QObject* watched, QEvent* event) {
    if (watched == widget() && event->type() == QEvent::LayoutRequest) {
        // The content's height changed; the window's layout reads it again.
        updateGeometry();
    }
    if (event->type() == QEvent::Wheel) {
        // The area's own scroll bars pass their wheel events through here too; only the content's
        // sliders give theirs away.
        auto* slider = qobject_cast<QAbstractSlider*>(watched);
        if (slider != nullptr && !slider->hasFocus() && widget() != nullptr &&
            widget()->isAncestorOf(slider)) {
            event->ignore();
            return true;
        }
    }
    return QScrollArea::eventFilter(watched, event);
}
