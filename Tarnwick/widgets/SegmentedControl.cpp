#include "Tarnwick/widgets/SegmentedControl.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "Tarnwick/widgets/Theme.h"

namespace {
constexpr int segmentPadding = 10;
constexpr int controlHeight = 22;
constexpr int inset = 2;
}  // namespace

SegmentedControl::SegmentedControl(const QStringList& labels, QWidget* parent)
    : QWidget(parent), labels_(labels) {
    setFont(Theme::font(Theme::TextStyle::body));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

void SegmentedControl::setSelected(int index) {
    if (index == selected_) return;
    selected_ = index;
    update();
    if (QAccessible::isActive() && index >= 0 && index < count()) {
        QAccessibleEvent event(this, QAccessible::Selection);
        event.setChild(index);
        QAccessible::updateAccessibility(&event);
    }
}

void SegmentedControl::choose(int index) {
    setSelected(index);
    emit activated(index);
}

int SegmentedControl::segmentWidth() const {
    int widest = 0;
    for (const QString& label : labels_) {
        widest = std::max(widest, fontMetrics().horizontalAdvance(label));
    }
    return widest + 2 * segmentPadding;
}

QRect SegmentedControl::segmentRect(int index) const {
    return {inset + index * segmentWidth(), inset, segmentWidth(), height() - 2 * inset};
}

QSize SegmentedControl::sizeHint() const {
    return {count() * segmentWidth() + 2 * inset, controlHeight};
}

void SegmentedControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    const bool dark = Theme::isDark(pal);
    const QRectF outer = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::faint(pal, dark ? 0.12 : 0.08));
    painter.drawRoundedRect(outer, 6, 6);

    for (int i = 0; i < count(); ++i) {
        const QRectF segment = segmentRect(i);
        if (i == selected_) {
            painter.setPen(QPen(Theme::faint(pal, 0.12), 0.5));
            painter.setBrush(dark ? QColor(255, 255, 255, 60) : QColor(Qt::white));
            painter.drawRoundedRect(segment, 5, 5);
        } else if (i > 0 && i - 1 != selected_) {
            painter.setPen(QPen(Theme::faint(pal, 0.15), 1));
            const double x = segment.left();
            painter.drawLine(QPointF(x, segment.top() + 4), QPointF(x, segment.bottom() - 4));
        }
        painter.setPen(isEnabled() ? Theme::primary(pal) : Theme::tertiary(pal));
        painter.drawText(segment, Qt::AlignCenter, labels_[i]);
    }
    if (hasFocus()) {
        painter.setPen(QPen(Theme::accent(pal), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(outer, 6, 6);
    }
}

void SegmentedControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    for (int i = 0; i < count(); ++i) {
        if (segmentRect(i).contains(event->position().toPoint())) {
            choose(i);
            return;
        }
    }
}

void SegmentedControl::keyPressEvent(QKeyEvent* event) {
    int next = selected_;
    if (event->key() == Qt::Key_Left) next = std::max(0, selected_ - 1);
    if (event->key() == Qt::Key_Right) next = std::min(count() - 1, selected_ + 1);
    if (next == selected_ || next < 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    choose(next);
}
