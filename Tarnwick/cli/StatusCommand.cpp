#include "Tarnwick/cli/StatusCommand.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <cmath>

#include "FanCore/SMC/SMC.h"
#include "Tarnwick/cli/StatusReport.h"
#include "Tarnwick/cli/Usage.h"
#include "Tarnwick/model/Model.h"

namespace {

const QString kCommand = QStringLiteral("status");

QByteArray render(const Model& model, StatusCommand::Format format) {
    switch (format) {
        case StatusCommand::Format::json:
            return StatusReport::json(model) + '\n';
        case StatusCommand::Format::bar:
            return StatusReport::bar(model) + '\n';
        case StatusCommand::Format::prometheus:
            return StatusReport::prometheus(model);
        case StatusCommand::Format::lines:
            break;
    }
    return (StatusReport::lines(model).join(u'\n') + u'\n').toUtf8();
}

}  // namespace

namespace StatusCommand {

std::expected<Options, QString> parse(const QStringList& words) {
    Options options;
    bool formatGiven = false;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        if (word == u"--help" || word == u"-h") {
            options.help = true;
        } else if (word == u"--json" || word == u"--bar" || word == u"--prometheus") {
            if (formatGiven) {
                return std::unexpected(
                    QStringLiteral("choose one of --json, --bar and --prometheus"));
            }
            formatGiven = true;
            options.format = word == u"--json"  ? Format::json
                             : word == u"--bar" ? Format::bar
                                                : Format::prometheus;
        } else if (word == u"--watch") {
            bool ok = false;
            const double seconds = i + 1 < words.size() ? words[i + 1].toDouble(&ok) : 0;
            if (!ok || !std::isfinite(seconds) || seconds < 0.5 || seconds > 86400) {
                return std::unexpected(QStringLiteral("--watch takes 0.5 to 86400 seconds"));
            }
            options.watchSeconds = seconds;
            ++i;
        } else {
            return std::unexpected(QStringLiteral("unknown option '") + word + u'\'');
        }
    }
    if (options.format == Format::prometheus && options.watchSeconds) {
        return std::unexpected(QStringLiteral(
            "--prometheus prints once; a timer runs it for the textfile collector (see "
            "docs/command-line.md)"));
    }
    return options;
}

int run(const QStringList& words) {
    const std::expected<Options, QString> options = parse(words);
    if (!options) return Usage::misused(kCommand, options.error());
    if (options->help) return Usage::print(Usage::status()) ? Usage::ok : Usage::failure;

    // The model finds its bundle and reads settings through Qt; no display is involved.
    int argc = 1;
    char name[] = "tarnwick";
    char* argv[] = {name, nullptr};
    const QCoreApplication app(argc, argv);

    ModelOptions modelOptions;
    modelOptions.startTimer = false;
    Model model(modelOptions);
    // The output stays as it is (scripts read it); the note says why there is nothing to drive.
    // A daemon that publishes measurements has the SMC open, and asking again would cost the bus.
    if (model.fans().empty() && !model.measuredAt() && !SMC::open()) {
        Usage::note(kCommand,
                    QStringLiteral("no fan controller found: looked for the applesmc driver "
                                   "(Intel Macs), the macsmc_hwmon driver (Apple silicon) and the "
                                   "simulated Mac's socket (tarnwick-sim)"));
    }
    for (;;) {
        const QByteArray text = render(model, options->format);
        if (!Usage::print(QString::fromUtf8(text))) {
            return Usage::failed(kCommand, QStringLiteral("cannot write to standard output"));
        }
        if (!options->watchSeconds) return Usage::ok;
        QThread::msleep(static_cast<unsigned long>(*options->watchSeconds * 1000.0));
        model.refresh();
    }
}

}  // namespace StatusCommand
