#include "Tarnwick/model/Installer.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include "CSMC/sandbox_root.h"

namespace Installer {
namespace {

// pkexec's own refusal, as opposed to anything the script printed, and its text when no agent
// can ask for the password.
const QString kPkexecVerdict = QStringLiteral("Error executing command as another user");
const QString kNoAgent = QStringLiteral("No authentication agent found");

constexpr int kPkexecDismissed = 126;
constexpr int kPkexecRefused = 127;

bool sandboxed() { return SandboxRoot::root() != std::filesystem::path("/"); }

QString lastLine(const QString& text) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QString line = it->trimmed();
        if (!line.isEmpty()) return line;
    }
    return {};
}

}  // namespace

void start(const QString& scriptPath, QObject* owner, Done done) {
    const bool viaPkexec = !sandboxed() || qEnvironmentVariable("TARNWICK_USE_PKEXEC") == "1";
    // The script itself is pkexec's program, so a polkit action can name its installed path;
    // under a sandbox root nothing needs root rights and the scripts work inside the root.
    const QString program = viaPkexec ? QStringLiteral("pkexec") : QStringLiteral("/bin/bash");

    auto* process = new QProcess(owner);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    auto finish = [process, done, viaPkexec](RunResult result) {
        result.viaPkexec = viaPkexec;
        process->deleteLater();
        done(result);
    };
    QObject::connect(process, &QProcess::finished, process,
                     [process, finish](int exitCode, QProcess::ExitStatus status) {
                         RunResult result;
                         result.crashed = status == QProcess::CrashExit;
                         result.exitCode = exitCode;
                         result.errorOutput =
                             QString::fromLocal8Bit(process->readAllStandardError());
                         finish(result);
                     });
    QObject::connect(
        process, &QProcess::errorOccurred, process,
        [process, finish, program](QProcess::ProcessError error) {
            // Every other error is followed by finished().
            if (error != QProcess::FailedToStart) return;
            RunResult result;
            result.started = false;
            result.startError =
                QStringLiteral("cannot run %1: %2").arg(program, process->errorString());
            finish(result);
        });
    process->start(program, QStringList{scriptPath});
}

std::optional<QString> message(const RunResult& result) {
    if (!result.started) {
        if (!result.startError.isEmpty()) return result.startError;
        return QStringLiteral("something went wrong");
    }
    if (!result.crashed && result.exitCode == 0) return std::nullopt;
    if (result.viaPkexec && !result.crashed && result.exitCode == kPkexecDismissed) {
        return std::nullopt;
    }
    if (result.viaPkexec && !result.crashed && result.exitCode == kPkexecRefused) {
        if (result.errorOutput.contains(kNoAgent)) {
            return QStringLiteral(
                "no authentication agent is running to ask for the password; start your "
                "desktop's agent (polkit) and try again");
        }
        if (result.errorOutput.contains(kPkexecVerdict) || lastLine(result.errorOutput).isEmpty()) {
            // pkexec ends its refusal with a line about the incident being reported, which says
            // nothing to the user.
            return QStringLiteral("not authorized");
        }
    }
    QString line = lastLine(result.errorOutput);
    // The scripts name themselves at the start of their messages; the headline says it better.
    static const QRegularExpression scriptPrefix(QStringLiteral("^[a-z]+\\.sh: "));
    line.remove(scriptPrefix);
    if (!line.isEmpty()) return line;
    return QStringLiteral("something went wrong");
}

QString failureHeadline(const QString& script) {
    if (script == QLatin1String("uninstall.sh"))
        return QStringLiteral("fan control was not removed");
    return QStringLiteral("fan control was not installed");
}

std::optional<QString> resourcePath(const QString& bundleDir, const QString& name) {
    // A name is looked up inside the bundle only; it never reaches outside it.
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".") ||
        name == QLatin1String("..")) {
        return std::nullopt;
    }
    const QFileInfo info(QDir(bundleDir).filePath(name));
    if (!info.isFile()) return std::nullopt;
    return info.absoluteFilePath();
}

}  // namespace Installer
