#include "Tarnwick/model/Installer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#include "CSMC/linux/sandbox_root.h"

namespace Installer {
namespace {

// pkexec's own refusal, as opposed to anything the script printed.
const QString kPkexecVerdict = QStringLiteral("Error executing command as another user");

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

RunResult run(const QString& scriptPath) {
    RunResult result;
    QString program;
    if (sandboxed()) {
        // Under a sandbox root nothing needs root rights: the scripts work inside the root.
        program = QStringLiteral("/bin/bash");
    } else {
        // The script itself is the program, so a polkit action can name its installed path.
        program = QStringLiteral("pkexec");
        result.viaPkexec = true;
    }
    const QStringList arguments{scriptPath};

    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(-1)) {
        result.started = false;
        result.startError = QStringLiteral("cannot run %1: %2").arg(program, process.errorString());
        return result;
    }
    process.waitForFinished(-1);
    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = process.exitCode();
    result.errorOutput = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
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
    if (result.viaPkexec && !result.crashed && result.exitCode == kPkexecRefused &&
        (result.errorOutput.contains(kPkexecVerdict) || lastLine(result.errorOutput).isEmpty())) {
        // pkexec ends its refusal with a line about the incident being reported, which says
        // nothing to the user.
        return QStringLiteral("not authorized");
    }
    QString line = lastLine(result.errorOutput);
    if (!line.isEmpty()) return line;
    return QStringLiteral("something went wrong");
}

QString defaultBundleDir() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../libexec/tarnwick"));
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
