#include "Tarnwick/cli/Usage.h"

#include <cstdio>

namespace {

void writeError(const QString& command, const QString& message) {
    const QString prefix =
        command.isEmpty() ? QStringLiteral("tarnwick") : QStringLiteral("tarnwick ") + command;
    const QByteArray line = (prefix + QStringLiteral(": ") + message + u'\n').toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
}

}  // namespace

namespace Usage {

QString program() {
    return QStringLiteral(
        "usage: tarnwick [COMMAND] [OPTIONS]\n"
        "\n"
        "Without a command, tarnwick runs the tray application.\n"
        "\n"
        "commands (no display needed):\n"
        "  status      temperatures, fans and who drives them (--json, --bar, --prometheus,\n"
        "              --watch)\n"
        "  set         change a fan setting, as the panel does (boost, manual, auto, battery, "
        "target, charger-only)\n"
        "\n"
        "options of the application:\n"
        "  --diagnostics          print the diagnostics report and exit\n"
        "  --snapshot FILE        render the panel to a PNG picture and exit\n"
        "    --about              the about window instead of the panel\n"
        "    --expand-menu-bar    with the menu-bar settings open\n"
        "    --history SECONDS    poll for SECONDS first, so that the chart has a history\n"
        "  --show-panel           open the panel after launch\n"
        "  --demo warm|hot        fixed demonstration temperatures\n"
        "  --no-fans              behave as on a machine without fans\n"
        "  --help, --version\n"
        "\n"
        "'tarnwick COMMAND --help' describes a command. Exit status: 0 done, 1 failed, 2 "
        "misused.\n");
}

QString status() {
    return QStringLiteral(
        "usage: tarnwick status [--json | --bar | --prometheus] [--watch SECONDS]\n"
        "\n"
        "Prints the temperatures, the fans and who drives them, one line each.\n"
        "\n"
        "  --json             one JSON object (its member \"schema\" is the format's version)\n"
        "  --bar              one JSON line for status bars: text, tooltip, class (normal, warm,\n"
        "                     hot) and percentage (the fastest fan's share of its maximum)\n"
        "  --prometheus       the Prometheus text format, for node_exporter's textfile\n"
        "                     collector (not with --watch)\n"
        "  --watch SECONDS    repeat every SECONDS (0.5 to 86400) until interrupted\n");
}

QString set() {
    return QStringLiteral(
        "usage: tarnwick set SETTING VALUE [SETTING VALUE ...]\n"
        "\n"
        "Changes the fan settings the daemon follows, as the panel does. All are checked before\n"
        "any is written.\n"
        "\n"
        "  boost 0..1 | N%         strength of the automatic boost (0.8, 80%); leaves manual mode\n"
        "  manual RPM              hold the fans at RPM (0 to 10000)\n"
        "  auto                    back to the automatic boost (takes no value)\n"
        "  battery on|off          cool the battery\n"
        "  target DEGREES          battery temperature to keep (25 to 45 \u00b0C)\n"
        "  charger-only on|off     cool the battery only on the charger\n");
}

QString version() { return QStringLiteral("tarnwick " TARNWICK_VERSION "\n"); }

bool print(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    const size_t written =
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    return std::fflush(stdout) == 0 && written == static_cast<size_t>(bytes.size());
}

int misused(const QString& command, const QString& message) {
    writeError(command, message);
    const QString help = command.isEmpty()
                             ? QStringLiteral("tarnwick --help")
                             : QStringLiteral("tarnwick ") + command + QStringLiteral(" --help");
    const QString usage = command == u"status" ? status() : command == u"set" ? set() : program();
    const QByteArray hint =
        (usage.section(u'\n', 0, 0) + QStringLiteral("\ntry '") + help + QStringLiteral("'\n"))
            .toUtf8();
    std::fwrite(hint.constData(), 1, static_cast<size_t>(hint.size()), stderr);
    return misuse;
}

int failed(const QString& command, const QString& message) {
    writeError(command, message);
    return failure;
}

void note(const QString& command, const QString& message) { writeError(command, message); }

}  // namespace Usage
