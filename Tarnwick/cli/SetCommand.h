#pragma once

// "tarnwick set": changes the fan settings through the same settings file the panel writes, so
// that the running daemon and panel pick them up on their next pass.

#include <QString>
#include <QStringList>
#include <expected>

#include "FanCore/Policy/Config.h"

namespace SetCommand {

// `config` with every "SETTING VALUE" of `words` applied, in order; the first unknown setting,
// missing value or value out of range gives a message naming it, and nothing is applied.
std::expected<Config, QString> apply(Config config, const QStringList& words);

// The settings in one line: "boost 0.8 (a lot), battery cooling off (33 °C, charger only)" or
// "manual 3000 rpm, ...".
QString describe(const Config& config);

// Loads the settings, applies `words` (the arguments after "set"), saves them and prints the
// result; the exit status of Usage.
int run(const QStringList& words);

}  // namespace SetCommand
