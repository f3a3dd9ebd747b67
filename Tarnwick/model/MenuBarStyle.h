#pragma once

// The user's choice of what the status item draws, kept in the user defaults.

#include <QSettings>

#include "Tarnwick/model/MenuBarValue.h"
#include "Tarnwick/model/TrayAppearance.h"

struct MenuBarStyle {
    bool showIcon = true;
    MenuBarValue value = MenuBarValue::gauge;
    bool showUnit = false;
    bool colorize = true;
    // The panel the tray icon is drawn for: the desktop's, or the user's light or dark.
    TrayAppearance appearance = TrayAppearance::automatic;

    // Reads "showIcon", "value", "showUnit", "colorize", "trayAppearance"; a missing, mistyped
    // or unknown entry gives that field's default. Never fails.
    static MenuBarStyle load(const QSettings& settings);
    // The same over the application's preferences file (UserDefaults::path()).
    static MenuBarStyle load();

    // Writes all five keys (Booleans, and the text forms of `value` and `appearance`); write
    // errors are ignored.
    void save(QSettings& settings) const;
    // The same into the application's preferences file, flushed before returning.
    void save() const;

    friend bool operator==(const MenuBarStyle&, const MenuBarStyle&) = default;
};
