// The model's actions on the system outside the application: the bundle's privileged scripts and
// the login entry.

#include <QPointer>
#include <QTimer>

#include "Tarnwick/model/LoginItem.h"
#include "Tarnwick/model/Model.h"
#include "Tarnwick/model/ProgramPaths.h"

void Model::runPrivileged(const QString& script) {
    if (runningScript_) return;
    const std::optional<QString> path = Installer::resourcePath(bundleDir_, script);
    if (!path) {
        setHelperMessage(script + QStringLiteral(" is missing from ") + bundleDir_);
        return;
    }
    assign(runningScript_, script);
    emit privilegedRunStarting();
    // One event-loop turn lets a closed pop-up's grab reach the X server before the prompt.
    QPointer<Model> self(this);
    QTimer::singleShot(0, this, [this, self, script, path = *path] {
        Installer::Done done = [self, script](const Installer::RunResult& result) {
            if (self) self->privilegedRunEnded(script, result);
        };
        if (options_.runner) {
            options_.runner(path, done);
        } else {
            Installer::start(path, this, done);
        }
    });
}

void Model::privilegedRunEnded(const QString& script, const Installer::RunResult& result) {
    const std::optional<QString> detail = Installer::message(result);
    std::optional<QString> message;
    if (detail) message = Installer::failureHeadline(script) + QLatin1Char('\n') + *detail;
    const bool installed = !detail && script == QLatin1String("install.sh") && !result.crashed &&
                           result.started && result.exitCode == 0;
    if (installed && settingsPending()) {
        // The install made the settings folder; the daemon gets what the user chose before.
        if (const std::optional<QString> error = saveConfig()) {
            message = QStringLiteral("settings not saved: ") + *error;
        }
    }
    settingsMessage_.reset();
    setHelperMessage(message);
    assign(runningScript_, std::nullopt);
    // The scripts start or stop the daemon asynchronously; look again once it has had time to
    // write its status.
    QTimer::singleShot(options_.scriptRefreshDelay, this, &Model::refresh);
}

bool Model::launchAtLogin() const { return LoginItem::isEnabled(options_.loginItemFile); }

void Model::setLaunchAtLogin(bool enabled) {
    const QString executable =
        options_.executable.isEmpty() ? ProgramPaths::launcher() : options_.executable;
    const auto result = LoginItem::setEnabled(enabled, executable, options_.loginItemFile);
    if (!result) setHelperMessage(QStringLiteral("launch at login: ") + result.error());
    // The check box reads the entry back, whatever happened.
    emit aboutToChange();
    emit changed();
}
