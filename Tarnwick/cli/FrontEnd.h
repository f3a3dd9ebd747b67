#pragma once

// What "tarnwick" does before, and without, the tray application: the diagnostics report, the
// subcommands, help and version, and the checks that the application can start at all. Both the
// command-line program and the tray application run it first, so that either answers the same
// words the same way.

#include <QStringList>
#include <expected>

#include "Tarnwick/AppOptions.h"

namespace FrontEnd {

// The command line as Qt's strings, program name first.
QStringList arguments(int argc, char** argv);

// The application's options when the command line asks for the tray application and it can
// start; otherwise the exit status of what was done here (the report, a subcommand, a misuse).
std::expected<AppOptions, int> run(int argc, char** argv);

}  // namespace FrontEnd
