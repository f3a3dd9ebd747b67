#pragma once

// The subcommands and options of "tarnwick" that run without a display.

#include <QStringList>
#include <optional>

namespace CommandLine {

// Runs the command `arguments` (program name first) names — "status", "set", "--help",
// "--version" — and returns its exit status; for the application's options, misuse (2) for an
// unknown option or argument or a missing value, and failure (1) when no display can show it;
// absent when they ask for the application and it can start.
std::optional<int> run(const QStringList& arguments);

}  // namespace CommandLine
