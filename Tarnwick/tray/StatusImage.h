#pragma once

// The status item's pictures: the fan icon with five level bars, the ring gauge and the
// thermometer. Sizes are in points; drawing happens each time the picture is rendered, from the
// values captured here.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QSizeF>
#include <QString>
#include <functional>
#include <optional>

namespace StatusImage {

// The two colours of a tray picture: `full` for what is lit, `faint` for the unlit parts (the
// gauge's empty track, the bars above the level), each legible on the panel by itself.
struct SquareInk {
    QColor full;
    QColor faint;
};

struct Image {
    QSizeF size;                          // points
    bool isTemplate = false;              // drawn in black, to be tinted by whoever shows it
    std::function<void(QPainter&)> draw;  // paints into (0, 0, size), y growing downwards
    std::optional<QColor> color;          // the colour it was made with; absent for a template
    // The same picture redesigned for a square tray slot: fills the square `box` (pixels) in
    // `ink`, with glyph weights and proportions that stay legible from 16 pixels up.
    std::function<void(QPainter& painter, const QRectF& box, const SquareInk& ink)> drawSquare;
    // What the picture shows; two pictures with the same identity look the same.
    QString identity;

    // The picture at `devicePixelRatio` pixels per point; a template is recoloured to `tint`
    // when one is given (its coverage kept), a coloured picture is left as drawn.
    QImage render(double devicePixelRatio, std::optional<QColor> tint = std::nullopt) const;
};

// The fan icon (16 x 16) when `icon`, the five level bars (21 x 16) when `level` is given,
// or both with a 4-point gap (41 x 16). An absent `color` draws black and marks a template.
Image make(bool icon, std::optional<int> level, std::optional<QColor> color);

// The 22 x 22 ring gauge open at the bottom, filled clockwise from 225 degrees by `fraction`
// (limited to 0..1; NaN counts as 0), with the filled fan in its middle.
Image gauge(double fraction, std::optional<QColor> color);

// The thermometer at 13 points; absent when the symbol does not exist.
std::optional<Image> thermometer(std::optional<QColor> color);

}  // namespace StatusImage
