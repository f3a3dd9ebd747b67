#include "Tarnwick/widgets/ProminentButton.h"

#include <QPainter>

#include "Tarnwick/widgets/Theme.h"

ProminentButton::ProminentButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setFont(Theme::font(Theme::TextStyle::body));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // Outside a dialog a push button ignores Return unless it is an auto-default button.
    setAutoDefault(true);
    setTitle(text);
}

void ProminentButton::setTitle(const QString& text) {
    setText(text);
    const QFontMetrics metrics = fontMetrics();
    setFixedSize(metrics.horizontalAdvance(text) + 24, metrics.height() + 10);
}

void ProminentButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = Theme::accent(palette());
    if (isDown()) fill = fill.darker(115);
    if (!isEnabled()) fill.setAlphaF(0.45f);
    const QRectF body = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(fill.darker(120), 0.8));
    painter.setBrush(fill);
    painter.drawRoundedRect(body, 6, 6);
    if (hasFocus()) {
        painter.setPen(QPen(Theme::faint(palette(), 0.5), 1.2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(body.adjusted(1.5, 1.5, -1.5, -1.5), 5, 5);
    }
    painter.setPen(palette().color(QPalette::HighlightedText));
    painter.drawText(rect(), Qt::AlignCenter, text());
}
