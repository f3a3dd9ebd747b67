#pragma once

// The tray item: what it shows (image and title, worked out from the model as a menu-bar item
// would show them) and the one square tray icon that carries it.

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QRect>
#include <QString>
#include <optional>
#include <vector>

#include "Tarnwick/model/Heat.h"
#include "Tarnwick/tray/MenuBarStyle.h"
#include "Tarnwick/tray/StatusImage.h"
#include "Tarnwick/tray/TrayAppearance.h"

class Model;
class QMenu;
class QSystemTrayIcon;

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

// `value` rounded to the nearest integer (halves away from zero) in decimal; absent when it is
// not finite or does not fit a 64-bit integer.
std::optional<QString> wholeNumber(double value);

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

// The tray's one square picture of `button` at `side` pixels for a panel of `tone`: the title's
// number alone (the unit under it when there is room, its sign such as "°" dropped when only
// then it fits) where its digits fit at least 9 pixels tall per 22 of the side, else the image
// alone.
// Templates and uncoloured titles take the tone's glyph colour, warning colours are shaded to
// stay legible on it, and a panel of unknown tone gets an outline around everything.
QImage trayPicture(const StatusButton& button, int side, PanelTone tone);

// Whether the title's number fits into a tray icon of `side` pixels at a readable height.
bool titleFitsIcon(const StatusButton& button, int side);

// The tooltip: "tarnwick", then the figures on a line of their own.
QString trayToolTip(const StatusButton& button);

class StatusItem : public QObject {
    Q_OBJECT

  public:
    explicit StatusItem(QObject* parent = nullptr);
    ~StatusItem() override;

    // Creates the tray icon (call once a tray host is there); shows what was set before.
    void createTrayIcon();
    bool hasTrayIcon() const { return tray_ != nullptr; }

    // Shows `button` in the tray (kept until the tray icon exists); redraws only when the
    // picture or the tooltip changes.
    void set(const StatusButton& button);
    const StatusButton& button() const { return button_; }

    // A balloon message at the tray icon; false when there is no tray icon to show it.
    bool showMessage(const QString& title, const QString& body);
    // The panel the icon is drawn for.
    void setTone(PanelTone tone);
    PanelTone tone() const { return tone_; }

    // The menu the icon offers on a right click (and to hosts that ask for one); not owned.
    void setMenu(QMenu* menu);

    // How many times the tray pictures were drawn; what an idle tray should not increase.
    int redraws() const { return redraws_; }

    // Where the tray icon is on screen; absent when the tray does not say.
    std::optional<QRect> geometry() const;

  signals:
    // The icon was clicked (left button) or chosen from the keyboard.
    void activated();
    // The host asked for the icon's menu (a right click where the host does not show the menu
    // itself).
    void contextMenuRequested();

  private:
    void apply();

    StatusButton button_;
    PanelTone tone_ = PanelTone::unknown;
    QMenu* menu_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QString shown_;  // identity of what the tray shows
    int redraws_ = 0;
};
