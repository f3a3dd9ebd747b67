#pragma once

// The subcommands and options of "tarnwick" that run without a display.

#include <QStringList>
#include <optional>

namespace CommandLine {

// Runs the command `arguments` (program name first) names — "status", "set", "--help",
// "--version" — and returns its exit status; absent when they ask for the application.
std::optional<int> run(const QStringList& arguments);

}  // namespace CommandLine
