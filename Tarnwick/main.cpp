// The tray application (libexec/tarnwick/tarnwick-app), started by "tarnwick".

#include <QApplication>
#include <QProcess>
#include <QStringList>
#include <cstdio>
#include <expected>
#include <optional>

#include "Tarnwick/AppDelegate.h"
#include "Tarnwick/AppIcon.h"
#include "Tarnwick/AppOptions.h"
#include "Tarnwick/SingleInstance.h"
#include "Tarnwick/Snapshot.h"
#include "Tarnwick/cli/FrontEnd.h"
#include "Tarnwick/model/ProgramPaths.h"

int main(int argc, char** argv) {
    // Started through "tarnwick", which answered these words already; started directly (a
    // test), the same words get the same answers.
    const std::expected<AppOptions, int> handled = FrontEnd::run(argc, argv);
    if (!handled) return handled.error();
    const AppOptions& options = *handled;
    // QApplication takes its own options out of argv; a restart passes them on.
    const QStringList arguments = FrontEnd::arguments(argc, argv);

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
            QProcess::startDetached(ProgramPaths::launcher(), arguments.mid(1));
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);
    delegate.applicationDidFinishLaunching();
    QObject::connect(&*instance, &SingleInstance::requested, &delegate, &AppDelegate::showPanel);
    instance->listen();
    return QApplication::exec();
}
