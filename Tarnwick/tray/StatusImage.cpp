#include "Tarnwick/tray/StatusImage.h"

#include <QPainterPath>
#include <QPen>
#include <algorithm>
#include <cmath>

#include "Tarnwick/Symbols.h"

namespace StatusImage {
namespace {

constexpr double iconSide = 16;
constexpr double gapWidth = 4;
constexpr double barAreaWidth = 21;
constexpr double imageHeight = 16;
constexpr double barPitch = 4.5;
constexpr double barWidth = 3;
constexpr double barBottom = 1;  // above the image's bottom edge
constexpr double barHeights[5] = {4, 6.5, 9, 11.5, 14};
constexpr double faintOpacity = 0.25;

constexpr double gaugeSide = 22;
constexpr double ringCentreX = 11;
constexpr double ringCentreYUp = 10.3;  // measured from the bottom edge
constexpr double ringRadius = 9.7;
constexpr double ringWidth = 2.3;
constexpr double arcStart = 225;  // degrees, counter-clockwise from the positive x axis
constexpr double arcSweep = 270;
constexpr double fillThreshold = 0.01;
constexpr double gaugeFanShare = 0.58;  // of the square, in the tray: the ring's inside, filled

// Tray bars: width and rise as shares of the square; with the fan, it sits above the two
// lowest bars.
constexpr double squareBarWidth = 0.14;
constexpr double squareFanShare = 0.43;
// The fraction is kept to the steps a 32-pixel ring can show, so that noise in the fan speed
// does not count as a change of picture.
constexpr double fractionSteps = 200;

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

// Draws the symbol at `pointSize` centred on `centre`, at the size the symbol itself has.
void drawSymbol(QPainter& painter, const QString& name, double pointSize, QPointF centre,
                const QColor& color) {
    const double side = Symbols::boxSize(pointSize);
    Symbols::paint(painter, name, QRectF(centre.x() - side / 2, centre.y() - side / 2, side, side),
                   color);
}

// The track (in `trackColor`) and the filled arc (in `c`) of the gauge, in its own 22-point square.
void drawRing(QPainter& painter, double f, const QColor& c, const QColor& trackColor) {
    const QPointF centre(ringCentreX, gaugeSide - ringCentreYUp);
    const QRectF ring(centre.x() - ringRadius, centre.y() - ringRadius, 2 * ringRadius,
                      2 * ringRadius);
    QPen pen(trackColor, ringWidth, Qt::SolidLine, Qt::RoundCap);
    painter.setBrush(Qt::NoBrush);

    // Qt's arc angles run counter-clockwise on screen, as the drawing's own do; a negative
    // sweep goes clockwise.
    QPainterPath track;
    track.arcMoveTo(ring, arcStart);
    track.arcTo(ring, arcStart, -arcSweep);
    painter.setPen(pen);
    painter.drawPath(track);

    if (f > fillThreshold) {
        QPainterPath filled;
        filled.arcMoveTo(ring, arcStart);
        filled.arcTo(ring, arcStart, -arcSweep * f);
        pen.setColor(c);
        painter.setPen(pen);
        painter.drawPath(filled);
    }
}

QString colorName(const std::optional<QColor>& color) {
    return color ? color->name(QColor::HexArgb) : QStringLiteral("template");
}

// The five bars filling `box` from its left edge, heights rising evenly to the full height,
// on whole pixels so that their edges stay sharp.
void drawSquareBars(QPainter& painter, const QRectF& box, int level,
                    const StatusImage::SquareInk& ink) {
    const double side = box.height();
    const double width = std::max(2.0, std::round(box.width() * squareBarWidth));
    const double pitch = (box.width() - width) / 4;
    painter.setPen(Qt::NoPen);
    for (int k = 1; k <= 5; ++k) {
        const double height = std::round(side * k / 5);
        const QRectF bar(std::round(box.left() + (k - 1) * pitch), box.bottom() - height, width,
                         height);
        painter.setBrush(level >= k ? ink.full : ink.faint);
        painter.drawRoundedRect(bar, 1, 1);
    }
}

}  // namespace

QImage Image::render(double devicePixelRatio, std::optional<QColor> tint) const {
    const QSize pixels(static_cast<int>(std::ceil(size.width() * devicePixelRatio)),
                       static_cast<int>(std::ceil(size.height() * devicePixelRatio)));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (draw) draw(painter);
    if (isTemplate && tint) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRectF(QPointF(0, 0), size), *tint);
    }
    painter.end();
    return image;
}

Image make(bool icon, std::optional<int> level, std::optional<QColor> color) {
    const QColor c = color.value_or(QColor(Qt::black));
    const double iconWidth = icon ? iconSide : 0;
    const double gap = icon && level ? gapWidth : 0;
    const double bars = level ? barAreaWidth : 0;
    Image image;
    image.size = QSizeF(bars + iconWidth + gap, imageHeight);
    image.isTemplate = !color.has_value();
    image.color = color;
    image.identity =
        QStringLiteral("make %1 %2 %3").arg(icon).arg(level ? *level : -1).arg(colorName(color));
    image.drawSquare = [icon, level](QPainter& painter, const QRectF& box, const SquareInk& ink) {
        if (!level) {
            Symbols::paint(painter, QStringLiteral("fan.bold"), box, ink.full);
            return;
        }
        drawSquareBars(painter, box, *level, ink);
        if (icon) {
            const double fan = box.width() * squareFanShare;
            Symbols::paint(painter, QStringLiteral("fan.bold"),
                           QRectF(box.left(), box.top(), fan, fan), ink.full);
        }
    };
    image.draw = [c, icon, level, iconWidth, gap](QPainter& painter) {
        if (icon) {
            drawSymbol(painter, QStringLiteral("fan"), 13, QPointF(iconSide / 2, imageHeight / 2),
                       c);
        }
        if (!level) return;
        painter.setPen(Qt::NoPen);
        for (int k = 1; k <= 5; ++k) {
            const double height = barHeights[k - 1];
            const QRectF bar(iconWidth + gap + (k - 1) * barPitch, imageHeight - barBottom - height,
                             barWidth, height);
            painter.setBrush(*level >= k ? c : withOpacity(c, faintOpacity));
            painter.drawRoundedRect(bar, 1, 1);
        }
    };
    return image;
}

Image gauge(double fraction, std::optional<QColor> color) {
    const QColor c = color.value_or(QColor(Qt::black));
    const double f = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    Image image;
    image.size = QSizeF(gaugeSide, gaugeSide);
    image.isTemplate = !color.has_value();
    image.color = color;
    image.identity = QStringLiteral("gauge %1 %2")
                         .arg(std::round(f * fractionSteps) / fractionSteps)
                         .arg(colorName(color));
    image.drawSquare = [f](QPainter& painter, const QRectF& box, const SquareInk& ink) {
        const double scale = box.width() / gaugeSide;
        painter.save();
        painter.translate(box.topLeft());
        painter.scale(scale, scale);
        drawRing(painter, f, ink.full, ink.faint);
        painter.restore();
        const double fan = box.width() * gaugeFanShare;
        const QPointF centre =
            box.topLeft() + QPointF(ringCentreX, gaugeSide - ringCentreYUp) * scale;
        Symbols::paint(painter, QStringLiteral("fan.fill"),
                       QRectF(centre.x() - fan / 2, centre.y() - fan / 2, fan, fan), ink.full);
    };
    image.draw = [c, f](QPainter& painter) {
        drawRing(painter, f, c, withOpacity(c, faintOpacity));
        drawSymbol(painter, QStringLiteral("fan.fill"), 8,
                   QPointF(ringCentreX, gaugeSide - ringCentreYUp), c);
    };
    return image;
}

std::optional<Image> thermometer(std::optional<QColor> color) {
    const QString name = QStringLiteral("thermometer.medium");
    if (!Symbols::exists(name)) return std::nullopt;
    const QColor c = color.value_or(QColor(Qt::black));
    const double side = Symbols::boxSize(13);
    Image image;
    image.size = QSizeF(side, side);
    image.isTemplate = !color.has_value();
    image.color = color;
    image.identity = QStringLiteral("thermometer ") + colorName(color);
    image.draw = [name, c, side](QPainter& painter) {
        Symbols::paint(painter, name, QRectF(0, 0, side, side), c);
    };
    image.drawSquare = [](QPainter& painter, const QRectF& box, const SquareInk& ink) {
        Symbols::paint(painter, QStringLiteral("thermometer.medium.bold"), box, ink.full);
    };
    return image;
}

}  // namespace StatusImage
