#include "Tarnwick/cli/FrontEnd.h"

#include <cstdio>
#include <optional>
#include <string>

#include "FanCore/Diagnostics/Diagnostics.h"
#include "FanCore/Sensors/Sensors.h"
#include "Tarnwick/cli/CommandLine.h"
#include "Tarnwick/cli/Usage.h"

namespace {

// Reading the sensors needs no display, so the report is printed before any GUI exists.
// The sensors are discovered only when the daemon's measurements cannot stand in for them.
int printDiagnostics() {
    std::optional<Sensors> sensors;
    const auto discovered = [&sensors]() -> const Sensors& {
        if (!sensors) sensors.emplace();
        return *sensors;
    };
    // The status file's texts come from a file others can write; a terminal must not take them
    // for commands.
    const std::string report = Diagnostics::printable(Diagnostics::report(discovered)) + "\n";
    std::fwrite(report.data(), 1, report.size(), stdout);
    return std::fflush(stdout) == 0 ? Usage::ok : Usage::failure;
}

}  // namespace

namespace FrontEnd {

QStringList arguments(int argc, char** argv) {
    QStringList words;
    for (int i = 0; i < argc; ++i) words << QString::fromLocal8Bit(argv[i]);
    return words;
}

std::expected<AppOptions, int> run(int argc, char** argv) {
    const QStringList arguments = FrontEnd::arguments(argc, argv);
    const std::expected<AppOptions, QString> parsed = AppOptions::parse(arguments);
    // The report comes first, whatever else the command line holds.
    if (parsed && parsed->diagnostics) return std::unexpected(printDiagnostics());
    if (const std::optional<int> status = CommandLine::run(arguments)) {
        return std::unexpected(*status);
    }
    if (!parsed) return std::unexpected(Usage::misused({}, parsed.error()));
    return *parsed;
}

}  // namespace FrontEnd
