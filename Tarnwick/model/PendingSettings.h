#pragma once

// The user's fan settings kept in the user's own folder while the shared settings file cannot be
// written (before the daemon is installed, the settings folder does not exist and a user cannot
// create it). The model writes them to the shared file as soon as it can.

#include <QString>
#include <expected>
#include <optional>

#include "FanCore/Policy/Config.h"

namespace PendingSettings {

// "pending-config.json" beside the user defaults file `userDefaultsFile` (UserDefaults::path()
// when empty).
QString path(const QString& userDefaultsFile = {});

// The kept settings; absent when there are none or the file is not valid settings.
std::optional<Config> load(const QString& file);

// Keeps `config` at `file`, creating its folder; the error names the file and the reason.
std::expected<void, QString> save(const Config& config, const QString& file);

// Forgets the kept settings; a missing file is no error.
void discard(const QString& file);

}  // namespace PendingSettings
