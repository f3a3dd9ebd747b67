#pragma once

// The machine as "tarnwick status" reports it, from one polled Model: lines for people, one JSON
// object for scripts (versioned by its member "schema") and one for status bars.

#include <QString>
#include <QStringList>

class Model;

namespace StatusReport {

// The version of the JSON object's layout; raised whenever a member changes meaning or goes.
constexpr int schemaVersion = 1;

// Who holds the fans (Model::fanControl()): "daemon", "overridden", "handing back", "sleeping",
// or "system" (also while fan control is not installed or not running); empty without fans.
QString driver(const Model& model);

// One line per reading, per fan, for who drives them and for the settings.
QStringList lines(const Model& model);

// The JSON object described in docs/command-line.md, compact, without a final newline.
QByteArray json(const Model& model);

// {"text", "tooltip", "class", "percentage"} for a status bar's custom module, compact.
QByteArray bar(const Model& model);

// The temperatures, fans and control state in the Prometheus text exposition format (metrics
// "tarnwick_…" with their units in the names, labels "sensor" and "fan"), ending in a newline.
QByteArray prometheus(const Model& model);

}  // namespace StatusReport
