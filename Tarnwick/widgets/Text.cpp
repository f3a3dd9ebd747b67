#include "Tarnwick/widgets/Text.h"

#include <QApplication>
#include <QEvent>

QColor toneColor(Tone tone, const QPalette& palette) {
    switch (tone) {
        case Tone::primary:
            return Theme::primary(palette);
        case Tone::secondary:
            return Theme::secondary(palette);
        case Tone::tertiary:
            return Theme::tertiary(palette);
        case Tone::red:
            return Theme::red(palette);
        case Tone::yellow:
            return Theme::yellow(palette);
    }
    return Theme::primary(palette);
}

Text::Text(const QString& text, Theme::TextStyle style, Tone tone, QWidget* parent)
    : QLabel(text, parent), tone_(tone) {
    setTextFormat(Qt::PlainText);
    setTextStyle(style);
    applyTone();
}

void Text::setTextStyle(Theme::TextStyle style, bool monospacedDigits) {
    setFont(Theme::font(style, monospacedDigits));
}

void Text::setTone(Tone tone) {
    if (tone == tone_) return;
    tone_ = tone;
    applyTone();
}

void Text::setWraps(bool wraps) {
    setWordWrap(wraps);
    setSizePolicy(wraps ? QSizePolicy::Preferred : QSizePolicy::Fixed, QSizePolicy::Preferred);
}

void Text::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange) applyTone();
}

void Text::applyTone() {
    QPalette palette = QApplication::palette();
    const QColor color = toneColor(tone_, palette);
    // A disabled text dims to the tertiary label colour, as disabled controls do.
    const QColor dimmed = Theme::tertiary(palette);
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text}) {
        palette.setColor(QPalette::Active, role, color);
        palette.setColor(QPalette::Inactive, role, color);
        palette.setColor(QPalette::Disabled, role, dimmed);
    }
    setPalette(palette);
}
