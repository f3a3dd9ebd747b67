#pragma once

// What the tray item shows, worked out from the model as a menu-bar button would show it: an
// image, a title and the figures of the tooltip.

#include <QColor>
#include <QString>
#include <optional>
#include <vector>

#include "Tarnwick/model/Heat.h"
#include "Tarnwick/model/MenuBarStyle.h"
#include "Tarnwick/tray/StatusImage.h"

class Model;

// What a menu-bar button would show: an optional image, then a title in the monospaced-digit
// font, coloured when `titleColor` is present.
struct StatusButton {
    std::optional<StatusImage::Image> image;
    QString title;
    std::optional<QColor> titleColor;
    // The figures the tooltip always carries, whatever the style shows: "chip 72 °C" and the
    // fan speeds.
    QString figures;
};

namespace StatusColors {
// The warning colours of the tray, the same on every tray background.
inline const QColor yellow{255, 204, 0};
inline const QColor red{255, 59, 48};
}  // namespace StatusColors

// Yellow for warm, red for hot, none otherwise or without `colorize`.
std::optional<QColor> warningColor(const MenuBarStyle& style, Heat heat);

// The item on a machine with fans, from the style and the fan figures.
void updateStatusItem(StatusButton& button, const MenuBarStyle& style, std::optional<QColor> color,
                      double speedFraction, int level, double topRPM);

// The item without fans: the thermometer and the hottest chip temperature ("–" when unknown).
void updateFanlessStatusItem(StatusButton& button, const MenuBarStyle& style,
                             std::optional<QColor> color, std::optional<double> hottest);

// Both of the above as the model asks.
StatusButton statusButtonFor(const Model& model);

// The tooltip's figures: the hottest chip temperature, then each fan's speed (none without
// fans), rounded as the title rounds them.
QString statusFigures(std::optional<double> hottest, const std::vector<double>& fanSpeeds);

// The tooltip: "tarnwick", then the figures on a line of their own.
QString trayToolTip(const StatusButton& button);
