#include "Tarnwick/Symbols.h"

#include <QFile>
#include <QHash>
#include <QImage>
#include <QSvgRenderer>
#include <cmath>
#include <memory>

// The resource lives in a static library, whose initializer the linker would drop unless
// something refers to it.
static void initSymbolResource() { Q_INIT_RESOURCE(symbols); }

namespace Symbols {
namespace {

// The icon set draws on a 256-unit grid and leaves 24 units free on each side.
constexpr double gridSize = 256.0;
constexpr double glyphSize = 208.0;

QString resourcePath(const QString& name) { return QStringLiteral(":/symbols/") + name; }

QSvgRenderer* renderer(const QString& name) {
    static const bool initialized = [] {
        initSymbolResource();
        return true;
    }();
    (void)initialized;
    static QHash<QString, std::shared_ptr<QSvgRenderer>> cache;
    auto it = cache.find(name);
    if (it == cache.end()) {
        std::shared_ptr<QSvgRenderer> loaded;
        if (!name.isEmpty() && QFile::exists(resourcePath(name))) {
            loaded = std::make_shared<QSvgRenderer>(resourcePath(name));
            if (!loaded->isValid()) loaded.reset();
        }
        it = cache.insert(name, loaded);
    }
    return it->get();
}

}  // namespace

bool exists(const QString& name) { return renderer(name) != nullptr; }

double boxSize(double pointSize) { return pointSize * gridSize / glyphSize; }

void paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& color) {
    QSvgRenderer* svg = renderer(name);
    if (svg == nullptr || box.isEmpty()) return;
    // The glyph is rasterised at device resolution, then recoloured through its own coverage:
    // the icon files draw in "currentColor", which the SVG renderer does not resolve.
    const QTransform device = painter.deviceTransform();
    const double scale = std::sqrt(std::abs(device.determinant()));
    const QSize pixels(static_cast<int>(std::ceil(box.width() * scale)),
                       static_cast<int>(std::ceil(box.height() * scale)));
    if (pixels.isEmpty()) return;
    QImage glyph(pixels, QImage::Format_ARGB32_Premultiplied);
    glyph.fill(Qt::transparent);
    {
        QPainter glyphPainter(&glyph);
        glyphPainter.setRenderHint(QPainter::Antialiasing);
        svg->render(&glyphPainter, QRectF(QPointF(0, 0), QSizeF(pixels)));
        glyphPainter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        glyphPainter.fillRect(glyph.rect(), color);
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(box, glyph);
    painter.restore();
}

}  // namespace Symbols
