#include "Tarnwick/cli/CommandLine.h"

#include "Tarnwick/cli/SetCommand.h"
#include "Tarnwick/cli/StatusCommand.h"
#include "Tarnwick/cli/Usage.h"

namespace CommandLine {

std::optional<int> run(const QStringList& arguments) {
    if (arguments.size() < 2) return std::nullopt;
    const QString& first = arguments[1];
    const QStringList rest = arguments.mid(2);
    if (first == u"status") return StatusCommand::run(rest);
    if (first == u"set") return SetCommand::run(rest);
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        return Usage::print(Usage::program()) ? Usage::ok : Usage::failure;
    }
    if (arguments.contains(QStringLiteral("--version"))) {
        return Usage::print(Usage::version()) ? Usage::ok : Usage::failure;
    }
    // The application's options all start with a dash; a bare word is a mistyped command.
    if (!first.startsWith(u'-')) {
        return Usage::misused(
            {}, QStringLiteral("unknown command '") + first + QStringLiteral("' (status, set)"));
    }
    return std::nullopt;
}

}  // namespace CommandLine
