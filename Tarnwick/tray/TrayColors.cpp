#include "Tarnwick/tray/TrayColors.h"

#include <QDir>
#include <QSettings>
#include <algorithm>
#include <cmath>

#ifdef TARNWICK_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#endif

namespace TrayColors {
namespace {

constexpr double minimumContrast = 3.0;
// Aimed a little above the minimum so that rounding to 8-bit channels cannot fall below it.
constexpr double targetContrast = 3.1;

double linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& c) {
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

bool darkThemeName(const QString& name) {
    const QString lower = name.toLower();
    return lower.endsWith(QStringLiteral("-dark")) || lower.endsWith(QStringLiteral(":dark")) ||
           lower.contains(QStringLiteral("-dark-")) || lower == QStringLiteral("dark");
}

bool gtkPrefersDark() {
    if (darkThemeName(qEnvironmentVariable("GTK_THEME"))) return true;
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty()) config = QDir::homePath() + QStringLiteral("/.config");
    for (const char* version : {"gtk-4.0", "gtk-3.0"}) {
        const QSettings ini(
            config + QLatin1Char('/') + QLatin1String(version) + QStringLiteral("/settings.ini"),
            QSettings::IniFormat);
        const QString prefer =
            ini.value(QStringLiteral("Settings/gtk-application-prefer-dark-theme")).toString();
        if (prefer == QStringLiteral("1") ||
            prefer.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0) {
            return true;
        }
        if (darkThemeName(ini.value(QStringLiteral("Settings/gtk-theme-name")).toString())) {
            return true;
        }
    }
    return false;
}

// The freedesktop appearance setting: 1 is "prefer dark".
bool portalPrefersDark() {
#ifdef TARNWICK_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusMessage read = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
    read << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
    const QDBusMessage reply = bus.call(read, QDBus::Block, 300);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    QVariant value = reply.arguments().constFirst();
    // The portal wraps the value in one or two variants depending on its version.
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
        value = value.value<QDBusVariant>().variant();
    }
    return value.toUInt() == 1;
#else
    return false;
#endif
}

}  // namespace

PanelTone desktopTone() {
    if (qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QStringLiteral("GNOME"))) {
        return PanelTone::dark;  // its top bar is dark whatever the theme
    }
    if (gtkPrefersDark() || portalPrefersDark()) return PanelTone::dark;
    return PanelTone::unknown;
}

PanelTone resolve(TrayAppearance appearance, PanelTone desktop) {
    switch (appearance) {
        case TrayAppearance::light:
            return PanelTone::light;
        case TrayAppearance::dark:
            return PanelTone::dark;
        case TrayAppearance::automatic:
            break;
    }
    return desktop;
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a) + 0.05;
    const double lb = luminance(b) + 0.05;
    return std::max(la, lb) / std::min(la, lb);
}

QColor glyph(PanelTone tone) {
    return tone == PanelTone::light ? QColor(20, 20, 20) : QColor(255, 255, 255);
}

QColor faint(PanelTone tone) {
    // Light panels run from white down to mid greys (#d0d0d0), dark ones up to #3c3c3c; an
    // unknown panel gets the dark panel's grey inside the dark outline.
    return tone == PanelTone::light ? QColor(110, 110, 110) : QColor(140, 140, 140);
}

std::optional<QColor> halo(PanelTone tone) {
    if (tone != PanelTone::unknown) return std::nullopt;
    return QColor(0, 0, 0, 230);
}

QColor legible(const QColor& color, PanelTone tone) {
    const QColor white(255, 255, 255);
    const QColor black(0, 0, 0);
    auto fits = [&](const QColor& c) {
        const bool onLight = tone == PanelTone::dark || contrast(c, white) >= targetContrast;
        const bool onDark = tone == PanelTone::light || contrast(c, black) >= targetContrast;
        return onLight && onDark;
    };
    if (fits(color)) return color;
    float hue = 0, saturation = 0, lightness = 0, alpha = 0;
    color.getHslF(&hue, &saturation, &lightness, &alpha);
    // Walk outwards from the colour's own lightness; the nearest fitting shade wins.
    for (int step = 1; step <= 100; ++step) {
        for (const int sign : {-1, 1}) {
            const double l = lightness + sign * step / 100.0;
            if (l < 0 || l > 1) continue;
            const QColor candidate =
                QColor::fromHslF(hue, saturation, static_cast<float>(l), alpha).toRgb();
            if (fits(candidate)) return candidate;
        }
    }
    return color;
}

}  // namespace TrayColors
