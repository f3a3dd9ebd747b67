#include "Tarnwick/widgets/ElidedText.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

ElidedText::ElidedText(Theme::TextStyle style, Tone tone, QWidget* parent)
    : QWidget(parent), tone_(tone) {
    setFont(Theme::font(style));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedText::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    updateGeometry();
    update();
}

QString ElidedText::shownText() const {
    return fontMetrics().elidedText(text_, Qt::ElideRight, width());
}

QSize ElidedText::sizeHint() const {
    // Whole pixels rounded up: a width rounded down would make the text elide itself.
    const QFontMetricsF metrics(font());
    return {static_cast<int>(std::ceil(metrics.horizontalAdvance(text_))) + 1,
            fontMetrics().height()};
}

QSize ElidedText::minimumSizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    return {metrics.horizontalAdvance(QStringLiteral("…")), metrics.height()};
}

void ElidedText::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(toneColor(tone_, palette()));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}
