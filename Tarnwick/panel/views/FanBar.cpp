#include "Tarnwick/panel/views/FanBar.h"

#include <QEasingCurve>
#include <QPainter>
#include <algorithm>

#include "Tarnwick/model/Model.h"
#include "Tarnwick/widgets/Theme.h"

double fanBarValue(double actual, double max) {
    if (!(max > 0)) return 0;
    if (!(actual >= 100)) return 0;
    return std::min(actual / max, 1.0);
}

FanBar::FanBar(double value, QWidget* parent) : QWidget(parent), shown_(value), target_(value) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(barHeight);
    animation_.setDuration(Model::fanAnimationMs);
    animation_.setEasingCurve(QEasingCurve::OutCubic);
    connect(&animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        shown_ = v.toDouble();
        update();
    });
}

void FanBar::setValue(double value, bool animated) {
    if (value == target_ && animation_.state() != QAbstractAnimation::Running) {
        if (shown_ != value) {
            shown_ = value;
            update();
        }
        return;
    }
    target_ = value;
    animation_.stop();
    if (animated && isVisible()) {
        animation_.setStartValue(shown_);
        animation_.setEndValue(value);
        animation_.start();
    } else {
        shown_ = value;
        update();
    }
}

double FanBar::fillWidth(double value, double width) {
    if (!(value > 0)) return 0;
    return std::min(width, std::max(static_cast<double>(barHeight), value * width));
}

void FanBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF track = rect();
    const double radius = track.height() / 2;
    painter.setBrush(Theme::faint(palette(), 0.1));
    painter.drawRoundedRect(track, radius, radius);
    const double fill = fillWidth(shown_, track.width());
    if (fill > 0) {
        painter.setBrush(Theme::accent(palette()));
        painter.drawRoundedRect(QRectF(track.left(), track.top(), fill, track.height()), radius,
                                radius);
    }
}
