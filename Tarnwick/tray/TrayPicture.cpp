#include "Tarnwick/tray/TrayPicture.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

#include "Tarnwick/widgets/Theme.h"

namespace {

constexpr double unitShare = 0.3;  // of the side: the unit's height under a lone number
constexpr double loneShare = 0.6;  // of the side: a lone number's height
// Digits at least 9 pixels tall in a 22-pixel icon, and as much of other sides: lower ones cannot
// be read at a glance, so the glyph or the unit gives way first and then the number.
constexpr double readableDigitShare = 9.0 / 22.0;

double readableDigits(double side) { return std::round(side * readableDigitShare); }

// The number the icon has room for; the unit follows it only without an image.
QString iconTitle(const StatusButton& button) {
    return button.title.trimmed().section(QLatin1Char(' '), 0, 0);
}

// What `title` may shrink to before the number itself would: the number without its sign ("62°"
// gives "62"); empty when nothing follows the digits.
QString withoutSign(const QString& title) {
    qsizetype end = title.size();
    while (end > 0 && !title[end - 1].isDigit()) --end;
    return end == title.size() ? QString() : title.left(end);
}

QFont trayFont(int pixelSize) {
    QFont font = Theme::font(Theme::TextStyle::body, true);
    font.setBold(true);
    font.setPixelSize(pixelSize);
    // At tray sizes grey anti-aliased stems blur into the panel; whole-pixel stems stay sharp.
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

// The largest font at which `text` fits `width` with its ink at most `height` pixels tall;
// absent when it fits only with its ink lower than `smallest` pixels.
std::optional<QFont> fittingFont(const QString& text, double width, double height,
                                 double smallest) {
    for (int size = static_cast<int>(std::ceil(height * 2)); size >= 1; --size) {
        const QFont font = trayFont(size);
        const QFontMetricsF metrics(font);
        const QRectF ink = metrics.tightBoundingRect(text);
        if (ink.height() < smallest) return std::nullopt;
        if (ink.height() <= height && metrics.horizontalAdvance(text) <= width) return font;
    }
    return std::nullopt;
}

double inkHeight(const QFont& font, const QString& text) {
    return std::ceil(QFontMetricsF(font).tightBoundingRect(text).height());
}

// One line of text in the icon, centred across it with the bottom of its ink on `inkBottom`.
struct TitleLine {
    QFont font;
    QString text;
    double inkBottom = 0;
};

// Draws `line` in `color`; on `badge` (a panel of unknown tone) it sits on a plate of that
// colour, as outlined digits would run together.
void drawTitle(QPainter& painter, const TitleLine& line, int side, const QColor& color,
               const std::optional<QColor>& badge) {
    const QFontMetricsF metrics(line.font);
    const QRectF ink = metrics.tightBoundingRect(line.text);
    const double x = std::round((side - metrics.horizontalAdvance(line.text)) / 2);
    const double baseline = line.inkBottom - ink.bottom();
    if (badge) {
        const QRectF plate = ink.translated(x, baseline).adjusted(-1, -1, 1, 1);
        painter.setPen(Qt::NoPen);
        painter.setBrush(*badge);
        painter.drawRoundedRect(plate.intersected(QRectF(0, 0, side, side)), 1.5, 1.5);
    }
    painter.setFont(line.font);
    painter.setPen(color);
    painter.drawText(QPointF(x, baseline), line.text);
}

void drawImage(QPainter& painter, const StatusImage::Image& image, const QRectF& box,
               PanelTone tone) {
    if (!image.drawSquare) return;
    const QColor color =
        image.color ? TrayColors::legible(*image.color, tone) : TrayColors::glyph(tone);
    image.drawSquare(painter, box, {color, TrayColors::faint(tone)});
}

// Everything drawn in `layer` gets an outline of `color` under it, `radius` pixels wide.
QImage withHalo(const QImage& layer, const QColor& color, int radius) {
    QImage shadow = layer;
    {
        QPainter tint(&shadow);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(shadow.rect(), color);
    }
    QImage out(layer.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    for (int dy = -radius; dy <= radius; ++dy) {
        for (int dx = -radius; dx <= radius; ++dx) {
            if (dx != 0 || dy != 0) painter.drawImage(dx, dy, shadow);
        }
    }
    painter.drawImage(0, 0, layer);
    return out;
}

// The title as the icon shows it alone, at the largest font that fits `side` with readable
// digits: the whole number, else the number without its sign; absent when neither fits.
std::optional<TitleLine> loneTitle(const StatusButton& button, int side) {
    const QString title = iconTitle(button);
    for (const QString& text : {title, withoutSign(title)}) {
        if (text.isEmpty()) continue;
        const std::optional<QFont> font =
            fittingFont(text, side - 2, side * loneShare, readableDigits(side));
        if (font) return TitleLine{*font, text, (side + inkHeight(*font, text)) / 2};
    }
    return std::nullopt;
}

}  // namespace

bool titleFitsIcon(const StatusButton& button, int side) {
    return loneTitle(button, side).has_value();
}

QImage trayPicture(const StatusButton& button, int side, PanelTone tone) {
    QImage picture(side, side, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    const std::optional<QColor> halo = TrayColors::halo(tone);
    std::vector<TitleLine> lines;
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const double width = side - 2;  // room for the plate's edges
        const double smallest = readableDigits(side);
        // A number too low to read at a glance helps no one: it takes the whole square, the
        // image giving way, and where it does not fit even so the image stays alone.
        const std::optional<TitleLine> alone = loneTitle(button, side);
        if (alone) {
            const QString& title = alone->text;
            const QString unit = button.title.trimmed().section(QLatin1Char(' '), 1, 1);
            const std::optional<QFont> unitFont =
                unit.isEmpty() ? std::nullopt
                               : fittingFont(unit, width, side * unitShare, smallest / 2);
            const double bottom = side - (halo ? 1.0 : 0.0);
            const double unitHeight = unitFont ? inkHeight(*unitFont, unit) : 0;
            const double gap = std::max(2.0, std::round(side / 8.0));
            const std::optional<QFont> number =
                unitFont ? fittingFont(title, width, bottom - unitHeight - gap, smallest)
                         : std::nullopt;
            if (number) {
                lines.push_back({*number, title, bottom - unitHeight - gap});
                lines.push_back({*unitFont, unit, bottom});
            } else {
                lines.push_back(*alone);
            }
        } else if (button.image) {
            drawImage(painter, *button.image, QRectF(0, 0, side, side), tone);
        } else if (!iconTitle(button).isEmpty()) {
            // A speed too long for a small slot: the fan stands in, the tooltip has the number.
            drawImage(painter, StatusImage::make(true, std::nullopt, button.titleColor),
                      QRectF(0, 0, side, side), tone);
        }
    }
    if (halo) picture = withHalo(picture, *halo, 1);
    QPainter painter(&picture);
    const QColor textColor =
        button.titleColor ? TrayColors::legible(*button.titleColor, tone) : TrayColors::glyph(tone);
    for (const TitleLine& line : lines) drawTitle(painter, line, side, textColor, halo);
    return picture;
}
