#pragma once

// Running the bundle's install and uninstall scripts with administrator rights (pkexec), or
// directly as the user under a sandbox root, and turning the outcome into a message for the user.

#include <QString>
#include <functional>
#include <optional>

namespace Installer {

// What one script run did; filled by the runner, read by message().
struct RunResult {
    bool started = true;     // false when the program could not be started at all
    QString startError;      // why it could not be started (when !started)
    bool crashed = false;    // ended by a signal
    int exitCode = 0;        // the exit status when it ended normally
    bool viaPkexec = false;  // 126 and 127 are pkexec's own verdicts only then
    QString errorOutput;     // everything the run wrote to standard error
};

// Runs the script at `scriptPath` to the end (blocking) and reports what happened.
using Runner = std::function<RunResult(const QString& scriptPath)>;

// The real runner: "pkexec <script>" on the real machine, "/bin/bash <script>" as the user when a
// sandbox root (TARNWICK_ROOT other than "/") is in effect. Blocks until the run ends.
RunResult run(const QString& scriptPath);

// The message for the user: absent on success and when the password prompt was dismissed
// (pkexec 126); else the last non-empty line of error output, or a fixed text naming the cause
// ("not authorized", "something went wrong").
std::optional<QString> message(const RunResult& result);

// <directory of the running executable>/../libexec/tarnwick, cleaned.
QString defaultBundleDir();

// The full path of the resource `name` in `bundleDir` when it is an existing file.
std::optional<QString> resourcePath(const QString& bundleDir, const QString& name);

}  // namespace Installer
