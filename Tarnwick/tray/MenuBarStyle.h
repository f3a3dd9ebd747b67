#pragma once

// The user's choice of what the status item draws, kept in the user defaults.

#include <QSettings>

#include "Tarnwick/tray/MenuBarValue.h"

struct MenuBarStyle {
    bool showIcon = true;
    MenuBarValue value = MenuBarValue::gauge;
    bool showUnit = false;
    bool colorize = true;

    // Reads "showIcon", "value", "showUnit", "colorize"; a missing, mistyped or unknown entry
    // gives that field's default. Never fails.
    static MenuBarStyle load(const QSettings& settings);
    // The same over the application's preferences file (UserDefaults::path()).
    static MenuBarStyle load();

    // Writes all four keys (Booleans, and the text form of `value`); write errors are ignored.
    void save(QSettings& settings) const;
    // The same into the application's preferences file, flushed before returning.
    void save() const;

    friend bool operator==(const MenuBarStyle&, const MenuBarStyle&) = default;
};
