#include "Tarnwick/widgets/Theme.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>

namespace Theme {
namespace {

int pixelSize(TextStyle style) {
    switch (style) {
        case TextStyle::body:
        case TextStyle::headline:
            return 13;
        case TextStyle::caption:
            return 11;
        case TextStyle::caption2:
            return 10;
        case TextStyle::title2:
            return 18;
    }
    return 13;
}

bool digitsShareAdvance(const QFont& font) {
    const QFontMetricsF metrics(font);
    const double zero = metrics.horizontalAdvance(QLatin1Char('0'));
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (metrics.horizontalAdvance(QLatin1Char(digit)) != zero) return false;
    }
    return true;
}

// Qt 6.4 cannot switch on tabular figures, so a family whose digits are already tabular is
// chosen once: the desktop font when it qualifies, else a known family that is installed.
QString tabularFamily() {
    static const QString family = [] {
        const QFont base = QGuiApplication::font();
        if (digitsShareAdvance(base)) return base.family();
        for (const QString& candidate : {QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans"),
                                         QStringLiteral("Liberation Sans")}) {
            if (QFontDatabase::hasFamily(candidate) && digitsShareAdvance(QFont(candidate))) {
                return candidate;
            }
        }
        return base.family();
    }();
    return family;
}

}  // namespace

QFont font(TextStyle style, bool monospacedDigits) {
    QFont result = QGuiApplication::font();
    if (monospacedDigits) result.setFamily(tabularFamily());
    result.setPixelSize(pixelSize(style));
    if (style == TextStyle::headline) result.setWeight(QFont::Bold);
    if (style == TextStyle::title2) result.setWeight(QFont::DemiBold);
    return result;
}

bool isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightnessF() < 0.5; }

QColor primary(const QPalette& palette) { return palette.color(QPalette::WindowText); }

QColor faint(const QPalette& palette, double opacity) {
    QColor color = primary(palette);
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

QColor secondary(const QPalette& palette) { return faint(palette, isDark(palette) ? 0.55 : 0.6); }

QColor tertiary(const QPalette& palette) { return faint(palette, isDark(palette) ? 0.3 : 0.4); }

QColor accent(const QPalette& palette) { return palette.color(QPalette::Highlight); }

QColor red(const QPalette& palette) {
    return isDark(palette) ? QColor(255, 69, 58) : QColor(222, 44, 36);
}

QColor yellow(const QPalette& palette) {
    return isDark(palette) ? QColor(255, 214, 10) : QColor(196, 142, 0);
}

}  // namespace Theme
