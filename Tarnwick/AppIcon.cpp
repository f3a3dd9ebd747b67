#include "Tarnwick/AppIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <cmath>

#include "Tarnwick/Symbols.h"

namespace AppIcon {

QImage image(int side, double devicePixelRatio) {
    const int pixels = static_cast<int>(std::ceil(side * devicePixelRatio));
    QImage result(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    result.setDevicePixelRatio(devicePixelRatio);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing);
    const double s = side;
    const QRectF tile(s * 0.1, s * 0.1, s * 0.8, s * 0.8);
    QLinearGradient gradient(tile.topLeft(), tile.bottomLeft());
    gradient.setColorAt(0, QColor(64, 156, 255));
    gradient.setColorAt(1, QColor(18, 92, 214));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawRoundedRect(tile, s * 0.18, s * 0.18);
    const double glyph = s * 0.56;
    Symbols::paint(painter, QStringLiteral("fan.fill"),
                   QRectF(s / 2 - glyph / 2, s / 2 - glyph / 2, glyph, glyph), Qt::white);
    painter.end();
    return result;
}

QIcon icon() {
    QIcon result;
    for (const int side : {16, 22, 32, 48, 64, 128, 256}) {
        result.addPixmap(QPixmap::fromImage(image(side, 1.0)));
    }
    return result;
}

}  // namespace AppIcon
