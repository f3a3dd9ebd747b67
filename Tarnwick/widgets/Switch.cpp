#include "Tarnwick/widgets/Switch.h"

#include <QPainter>

#include "Tarnwick/widgets/Theme.h"

namespace {
constexpr int trackWidth = 32;
constexpr int trackHeight = 18;
}  // namespace

Switch::Switch(const QString& label, QWidget* parent) : QAbstractButton(parent) {
    setText(label);
    setCheckable(true);
    setFont(Theme::font(Theme::TextStyle::headline));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

QSize Switch::sizeHint() const {
    return {fontMetrics().horizontalAdvance(text()) + 12 + trackWidth,
            std::max(trackHeight, fontMetrics().height())};
}

QRect Switch::knobTrackRect() const {
    return {width() - trackWidth, (height() - trackHeight) / 2, trackWidth, trackHeight};
}

bool Switch::hitButton(const QPoint& pos) const { return rect().contains(pos); }

void Switch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    painter.setPen(Theme::primary(pal));
    painter.drawText(rect().adjusted(0, 0, -trackWidth - 12, 0), Qt::AlignLeft | Qt::AlignVCenter,
                     text());

    const QRectF track = knobTrackRect();
    painter.setPen(Qt::NoPen);
    QColor on = Theme::accent(pal);
    if (!isEnabled()) on.setAlphaF(0.5f);
    painter.setBrush(isChecked() ? on : Theme::faint(pal, 0.18));
    painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);

    const double knob = track.height() - 4;
    const double x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(QRectF(x, track.top() + 2.5, knob, knob));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (hasFocus()) {
        painter.setPen(QPen(Theme::accent(pal), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-1.5, -1.5, 1.5, 1.5), track.height() / 2 + 1.5,
                                track.height() / 2 + 1.5);
    }
}
