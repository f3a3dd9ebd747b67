#pragma once

// The tray item: what it shows (image and title, worked out from the model as a menu-bar item
// would show them) and the one square tray icon that carries it.

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QRect>
#include <QString>
#include <optional>

#include "Tarnwick/model/Heat.h"
#include "Tarnwick/tray/MenuBarStyle.h"
#include "Tarnwick/tray/StatusImage.h"

class Model;
class QSystemTrayIcon;

// What a menu-bar button would show: an optional image, then a title in the monospaced-digit
// font, coloured when `titleColor` is present.
struct StatusButton {
    std::optional<StatusImage::Image> image;
    QString title;
    std::optional<QColor> titleColor;
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

// The tray's one square picture of `button` at `side` pixels: the image alone when the title
// does not fit beside it at a readable size, else the image over the title, or the title alone.
// Templates and uncoloured titles are drawn in `textColor`.
QImage trayPicture(const StatusButton& button, int side, const QColor& textColor);

// Whether the title (its first word) fits into a tray icon of `side` pixels together with the
// image `button` carries.
bool titleFitsIcon(const StatusButton& button, int side);

// The tooltip: "tarnwick", then the title when there is one.
QString trayToolTip(const StatusButton& button);

class StatusItem : public QObject {
    Q_OBJECT

  public:
    explicit StatusItem(QObject* parent = nullptr);
    ~StatusItem() override;

    // Creates the tray icon (call once a tray host is there); shows what was set before.
    void createTrayIcon();
    bool hasTrayIcon() const { return tray_ != nullptr; }

    // Shows `button` in the tray (kept until the tray icon exists).
    void set(const StatusButton& button);
    const StatusButton& button() const { return button_; }

    // A balloon message at the tray icon; false when there is no tray icon to show it.
    bool showMessage(const QString& title, const QString& body);

    // Where the tray icon is on screen; absent when the tray does not say.
    std::optional<QRect> geometry() const;

  signals:
    // The icon was clicked (left button) or chosen from the keyboard.
    void activated();

  private:
    void apply();

    StatusButton button_;
    QSystemTrayIcon* tray_ = nullptr;
};
