#include <QApplication>
#include <QProcess>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <expected>
#include <optional>
#include <string>

#include "FanCore/Diagnostics/Diagnostics.h"
#include "FanCore/Sensors/Sensors.h"
#include "Tarnwick/AppDelegate.h"
#include "Tarnwick/AppIcon.h"
#include "Tarnwick/AppOptions.h"
#include "Tarnwick/SingleInstance.h"
#include "Tarnwick/Snapshot.h"
#include "Tarnwick/cli/CommandLine.h"
#include "Tarnwick/cli/Usage.h"

namespace {

QStringList argumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

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
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const QStringList arguments = argumentsOf(argc, argv);
    const std::expected<AppOptions, QString> parsed = AppOptions::parse(arguments);
    // The report comes first, whatever else the command line holds.
    if (parsed && parsed->diagnostics) return printDiagnostics();
    if (const std::optional<int> status = CommandLine::run(arguments)) return *status;
    if (!parsed) return Usage::misused({}, parsed.error());
    const AppOptions& options = *parsed;

    // A picture needs no screen: unless a platform was chosen, render off screen.
    if (options.snapshot && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !options.platformChosen) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    // A second start opens the running application's panel instead of adding a second icon.
    std::optional<SingleInstance> instance;
    if (!options.snapshot) {
        instance.emplace();
        if (!instance->primary()) {
            if (instance->handOver()) return 0;
            std::fputs("tarnwick: another tarnwick is running but does not answer\n", stderr);
            return 1;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnwick"));
    QApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));
    // Lets Wayland compositors match the windows to the menu entry and its icon.
    QApplication::setDesktopFileName(QStringLiteral("tarnwick"));
    QApplication::setWindowIcon(AppIcon::icon());
    QApplication::setQuitOnLastWindowClosed(false);

    ModelOptions model;
    model.demo = options.demo;
    model.noFans = options.noFans;

    if (options.snapshot) {
        if (Snapshot::run(options, *options.snapshot, model)) return 0;
        std::fprintf(stderr, "tarnwick: cannot write the picture to %s\n",
                     options.snapshot->toLocal8Bit().constData());
        return 1;
    }

    AppDelegateOptions delegateOptions;
    delegateOptions.showPanel = options.showPanel;
    delegateOptions.expandMenuBar = options.expandMenuBar;
    delegateOptions.model = model;
    // Tests shorten the wait for a tray host; nothing else should need to.
    bool waitGiven = false;
    const int waitMs = qEnvironmentVariableIntValue("TARNWICK_TRAY_WAIT_MS", &waitGiven);
    if (waitGiven && waitMs >= 0) delegateOptions.trayWait = std::chrono::milliseconds(waitMs);
    AppDelegate delegate(delegateOptions);
    QObject::connect(&delegate, &AppDelegate::quitRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    QObject::connect(
        &delegate, &AppDelegate::restartRequested, &app,
        [&arguments, &instance] {
            instance->release();
            std::fputs("tarnwick: the tray host changed; starting again to show the icon there\n",
                       stderr);
            QProcess::startDetached(QCoreApplication::applicationFilePath(), arguments.mid(1));
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);
    delegate.applicationDidFinishLaunching();
    QObject::connect(&*instance, &SingleInstance::requested, &delegate, &AppDelegate::showPanel);
    instance->listen();
    return QApplication::exec();
}
