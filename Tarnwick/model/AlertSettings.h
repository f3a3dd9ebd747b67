#pragma once

// Which desktop alerts the user wants, kept in the user defaults beside the menu-bar style.

#include <QSettings>

struct AlertSettings {
    // A hot chip is common under sustained load, so that alert waits to be asked for; a failing
    // fan and a stopped daemon are rare and worth hearing about.
    bool chipHot = false;
    bool fanFailure = true;
    bool controlStopped = true;

    // Reads "alertChipHot", "alertFanFailure", "alertControlStopped"; a missing or mistyped entry
    // gives that field's default.
    static AlertSettings load(const QSettings& settings);

    // Writes all three keys; write errors are ignored.
    void save(QSettings& settings) const;

    friend bool operator==(const AlertSettings&, const AlertSettings&) = default;
};
