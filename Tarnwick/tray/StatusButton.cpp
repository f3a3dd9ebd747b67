#include "Tarnwick/tray/StatusButton.h"

#include <QStringList>
#include <cmath>

#include "FanCore/Text/Numbers.h"
#include "Tarnwick/model/Model.h"

namespace {

// A temperature rounded to the nearest degree (halves away from zero); absent when unknown or
// without a whole form.
std::optional<QString> wholeDegrees(std::optional<double> celsius) {
    const std::optional<int64_t> whole = celsius ? FanText::roundedInteger(*celsius) : std::nullopt;
    if (!whole) return std::nullopt;
    return QString::number(*whole);
}

// A speed to the nearest ten rpm, as the title and the tooltip show it; a dash when it has no
// whole form.
QString tensOfRPM(double rpm) {
    return QString::fromStdString(
        FanText::integerOrDash(FanText::roundedInteger(std::round(rpm / 10) * 10)));
}

}  // namespace

std::optional<QColor> warningColor(const MenuBarStyle& style, Heat heat) {
    if (!style.colorize) return std::nullopt;
    if (heat == Heat::hot) return StatusColors::red;
    if (heat == Heat::warm) return StatusColors::yellow;
    return std::nullopt;
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
        button.title += tensOfRPM(topRPM);
        if (style.showUnit) button.title += QStringLiteral(" rpm");
    }
}

void updateFanlessStatusItem(StatusButton& button, const MenuBarStyle& style,
                             std::optional<QColor> color, std::optional<double> hottest) {
    button.titleColor = color;
    button.image = style.showIcon ? StatusImage::thermometer(color) : std::nullopt;
    const std::optional<QString> degrees = wholeDegrees(hottest);
    const QString text = degrees ? *degrees + QStringLiteral("°") : QStringLiteral("–");
    button.title = (style.showIcon ? QStringLiteral(" ") : QString()) + text;
}

QString statusFigures(std::optional<double> hottest, const std::vector<double>& fanSpeeds) {
    const std::optional<QString> degrees = wholeDegrees(hottest);
    QString figures = QStringLiteral("chip ") +
                      (degrees ? *degrees + QStringLiteral(" °C") : QStringLiteral("–"));
    QStringList speeds;
    for (const double rpm : fanSpeeds) {
        speeds << tensOfRPM(rpm) + QStringLiteral(" rpm");
    }
    if (!speeds.isEmpty()) {
        figures += (speeds.size() == 1 ? QStringLiteral(" · fan ") : QStringLiteral(" · fans ")) +
                   speeds.join(QStringLiteral(", "));
    }
    return figures;
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
    std::vector<double> speeds;
    for (const Fan& fan : model.fans()) speeds.push_back(fan.actual);
    button.figures = statusFigures(model.readings().hottest(), speeds);
    return button;
}

QString trayToolTip(const StatusButton& button) {
    return button.figures.isEmpty() ? QStringLiteral("tarnwick")
                                    : QStringLiteral("tarnwick\n") + button.figures;
}
