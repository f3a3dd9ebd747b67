#pragma once

// The tray application's own options, read once from its command line and handed to what they
// steer (the model, the panel, the shell, the snapshot).

#include <QString>
#include <QStringList>
#include <expected>
#include <optional>

struct AppOptions {
    bool diagnostics = false;         // "--diagnostics": print the report, start nothing
    std::optional<QString> snapshot;  // "--snapshot PATH": write a picture there and exit
    int historySeconds = 0;           // "--history SECONDS": polls before the picture
    bool about = false;               // "--about": the picture is of the about view
    bool expandMenuBar = false;       // "--expand-menu-bar": the panel opens its menu-bar part
    bool showPanel = false;           // "--show-panel": the panel opens after launch
    std::optional<QString> demo;      // "--demo warm|hot": fixed temperatures, fans standing
    bool noFans = false;              // "--no-fans": the machine is shown without fans
    bool platformChosen = false;      // Qt's "-platform" is among the arguments

    // The options among `arguments` (program name first; the first occurrence of an option
    // counts, and a value is the word after it): a message when "--history" is not 0 to 900
    // seconds or "--snapshot" has no path. A "--demo" word other than "warm" or "hot" is no demo;
    // with "--diagnostics" nothing else is read.
    static std::expected<AppOptions, QString> parse(const QStringList& arguments);
};
