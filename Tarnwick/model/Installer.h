#pragma once

// Running the bundle's install and uninstall scripts with administrator rights (pkexec), or
// directly as the user under a sandbox root, and turning the outcome into a message for the user.

#include <QObject>
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

// Called once with the outcome of a run, on the thread that started it.
using Done = std::function<void(const RunResult& result)>;

// Starts the script at `scriptPath` and calls `done` when it has ended (possibly before it
// returns); it must never wait for the script on the caller's thread.
using Runner = std::function<void(const QString& scriptPath, Done done)>;

// The real runner: starts "pkexec <script>" on the real machine, "/bin/bash <script>" as the user
// when a sandbox root (TARNWICK_ROOT other than "/") is in effect, unless TARNWICK_USE_PKEXEC=1
// asks for pkexec there too (for tests of the prompt). Returns at once; the process belongs to
// `owner` and `done` runs from the event loop.
void start(const QString& scriptPath, QObject* owner, Done done);

// The message for the user: absent on success and when the password prompt was dismissed
// (pkexec 126); else pkexec's own verdict ("no authentication agent…", "not authorized"), the
// script's last non-empty line of error output without its "<name>.sh: " prefix, or "something
// went wrong".
std::optional<QString> message(const RunResult& result);

// What a failed run of `script` did not do, the first line above message(): "fan control was not
// installed" for "install.sh", "fan control was not removed" for "uninstall.sh".
QString failureHeadline(const QString& script);

// The full path of the resource `name` in `bundleDir` when it is an existing file.
std::optional<QString> resourcePath(const QString& bundleDir, const QString& name);

}  // namespace Installer
