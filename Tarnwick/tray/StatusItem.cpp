#include "Tarnwick/tray/StatusItem.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QSystemTrayIcon>
#include <cmath>

#include "Tarnwick/AppIcon.h"
#include "Tarnwick/Symbols.h"
#include "Tarnwick/model/Model.h"
#include "Tarnwick/widgets/Theme.h"

std::optional<QColor> warningColor(const MenuBarStyle& style, Heat heat) {
    if (!style.colorize) return std::nullopt;
    if (heat == Heat::hot) return StatusColors::red;
    if (heat == Heat::warm) return StatusColors::yellow;
    return std::nullopt;
}

std::optional<QString> wholeNumber(double value) {
    const double rounded = std::round(value);  // halves away from zero
    if (!std::isfinite(rounded) || rounded >= 9223372036854775808.0 ||
        rounded < -9223372036854775808.0) {
        return std::nullopt;
    }
    return QString::number(static_cast<qint64>(rounded));
}

void updateStatusItem(StatusButton& button, const MenuBarStyle& style, std::optional<QColor> color,
                      double speedFraction, int level, double topRPM) {
    button.titleColor = color;
    if (style.value == MenuBarValue::gauge) {
        button.image = StatusImage::gauge(speedFraction, color);
        button.title.clear();
        return;
    }
    const bool bars = style.value == MenuBarValue::level;
    if (style.showIcon || bars) {
        button.image = StatusImage::make(style.showIcon,
                                         bars ? std::optional<int>(level) : std::nullopt, color);
    } else {
        button.image.reset();
    }
    button.title.clear();
    if (style.value == MenuBarValue::rpm) {
        if (style.showIcon) button.title += QLatin1Char(' ');
        // A speed that cannot be written as a whole number shows as a dash.
        const std::optional<QString> speed = wholeNumber(std::round(topRPM / 10) * 10);
        button.title += speed.value_or(QStringLiteral("–"));
        if (style.showUnit) button.title += QStringLiteral(" rpm");
    }
}

void updateFanlessStatusItem(StatusButton& button, const MenuBarStyle& style,
                             std::optional<QColor> color, std::optional<double> hottest) {
    button.titleColor = color;
    if (style.showIcon) {
        const QString name = QStringLiteral("thermometer.medium");
        if (Symbols::exists(name)) {
            const QColor c = color.value_or(QColor(Qt::black));
            StatusImage::Image image;
            const double side = Symbols::boxSize(13);
            image.size = QSizeF(side, side);
            image.isTemplate = !color.has_value();
            image.draw = [name, c, side](QPainter& painter) {
                Symbols::paint(painter, name, QRectF(0, 0, side, side), c);
            };
            button.image = image;
        } else {
            button.image.reset();
        }
    } else {
        button.image.reset();
    }
    const std::optional<QString> degrees = hottest ? wholeNumber(*hottest) : std::nullopt;
    const QString text = degrees ? *degrees + QStringLiteral("°") : QStringLiteral("–");
    button.title = (style.showIcon ? QStringLiteral(" ") : QString()) + text;
}

StatusButton statusButtonFor(const Model& model) {
    StatusButton button;
    const MenuBarStyle& style = model.menuBar();
    const std::optional<QColor> color = warningColor(style, model.chipHeat());
    if (model.fans().empty()) {
        updateFanlessStatusItem(button, style, color, model.readings().hottest());
    } else {
        updateStatusItem(button, style, color, model.speedFraction(), model.level(),
                         model.topRPM());
    }
    return button;
}

namespace {

constexpr double imageShare = 0.58;    // of the icon's height, when a title sits below the image
constexpr double smallestText = 0.34;  // of the icon's side: below this a title is unreadable

QString iconTitle(const StatusButton& button) {
    // The unit stays in the tooltip; the number is what the icon has room for.
    return button.title.trimmed().section(QLatin1Char(' '), 0, 0);
}

// The largest pixel size (not above `maximum`) at which `text` fits `width`, or 0.
int fittingPixelSize(const QString& text, double width, int maximum, int minimum) {
    QFont font = Theme::font(Theme::TextStyle::body, true);
    for (int size = maximum; size >= minimum; --size) {
        font.setPixelSize(size);
        if (QFontMetricsF(font).horizontalAdvance(text) <= width) return size;
    }
    return 0;
}

void drawImageIn(QPainter& painter, const StatusImage::Image& image, const QRectF& box,
                 const QColor& textColor) {
    if (image.size.isEmpty()) return;
    const double scale =
        std::min(box.width() / image.size.width(), box.height() / image.size.height());
    const QSizeF size = image.size * scale;
    const QRectF target(box.center().x() - size.width() / 2, box.center().y() - size.height() / 2,
                        size.width(), size.height());
    const QImage rendered =
        image.render(scale, image.isTemplate ? std::optional<QColor>(textColor) : std::nullopt);
    painter.drawImage(target, rendered);
}

// Beside an image the title must stay readable; alone it is all the icon has, so it shrinks.
int minimumTextSize(const StatusButton& button, int side) {
    return button.image ? static_cast<int>(std::ceil(side * smallestText)) : 1;
}

}  // namespace

bool titleFitsIcon(const StatusButton& button, int side) {
    const QString title = iconTitle(button);
    if (title.isEmpty()) return false;
    const double height = button.image ? side * (1 - imageShare) : side;
    return fittingPixelSize(title, side, static_cast<int>(height), minimumTextSize(button, side)) >
           0;
}

QImage trayPicture(const StatusButton& button, int side, const QColor& textColor) {
    QImage picture(side, side, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF square(0, 0, side, side);
    const QString title = iconTitle(button);
    const bool withTitle = titleFitsIcon(button, side);

    if (!withTitle) {
        if (button.image) drawImageIn(painter, *button.image, square, textColor);
        return picture;
    }
    QRectF textBox = square;
    if (button.image) {
        const QRectF imageBox(0, 0, side, side * imageShare);
        drawImageIn(painter, *button.image, imageBox, textColor);
        textBox = QRectF(0, imageBox.bottom(), side, side - imageBox.height());
    }
    QFont font = Theme::font(Theme::TextStyle::body, true);
    font.setPixelSize(fittingPixelSize(title, side, static_cast<int>(textBox.height()),
                                       minimumTextSize(button, side)));
    painter.setFont(font);
    painter.setPen(button.titleColor.value_or(textColor));
    painter.drawText(textBox, Qt::AlignCenter, title);
    return picture;
}

QString trayToolTip(const StatusButton& button) {
    const QString title = button.title.trimmed();
    return title.isEmpty() ? QStringLiteral("tarnwick") : QStringLiteral("tarnwick · ") + title;
}

StatusItem::StatusItem(QObject* parent) : QObject(parent) {}

StatusItem::~StatusItem() = default;

void StatusItem::createTrayIcon() {
    if (tray_ != nullptr) return;
    tray_ = new QSystemTrayIcon(this);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    emit activated();
                }
            });
    apply();
    tray_->show();
}

void StatusItem::set(const StatusButton& button) {
    button_ = button;
    apply();
}

bool StatusItem::showMessage(const QString& title, const QString& body) {
    if (tray_ == nullptr || !tray_->isVisible()) return false;
    tray_->showMessage(title, body, QSystemTrayIcon::Warning);
    return true;
}

std::optional<QRect> StatusItem::geometry() const {
    if (tray_ == nullptr) return std::nullopt;
    const QRect rect = tray_->geometry();
    if (!rect.isValid() || rect.isEmpty()) return std::nullopt;
    return rect;
}

void StatusItem::apply() {
    if (tray_ == nullptr) return;
    const QColor textColor = Theme::primary(QApplication::palette());
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64}) {
        icon.addPixmap(QPixmap::fromImage(trayPicture(button_, side, textColor)));
    }
    if (!button_.image && button_.title.trimmed().isEmpty()) icon = AppIcon::icon();
    tray_->setIcon(icon);
    tray_->setToolTip(trayToolTip(button_));
}
