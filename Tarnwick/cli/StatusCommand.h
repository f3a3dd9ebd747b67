#pragma once

// "tarnwick status": the machine once, or every few seconds, as lines, JSON or a status-bar line.

#include <QString>
#include <QStringList>
#include <expected>
#include <optional>

namespace StatusCommand {

enum class Format { lines, json, bar, prometheus };

struct Options {
    Format format = Format::lines;
    std::optional<double> watchSeconds;  // repeat every this many seconds
    bool help = false;
};

// The options among `words` (the arguments after "status"); a message for an unknown option, a
// second format, a watch interval that is missing or outside 0.5..86400 seconds, or a watch of the
// Prometheus format (a scrape reads one whole file, which a timer writes).
std::expected<Options, QString> parse(const QStringList& words);

// Polls the machine through a Model and prints it; with a watch interval, forever (until a
// signal or a failed write). The exit status of Usage.
int run(const QStringList& words);

}  // namespace StatusCommand
