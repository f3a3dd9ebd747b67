#pragma once

// Helpers for suites that drive Qt objects: waiting on the event loop, naming table cases.

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <csignal>
#include <functional>
#include <string>

#include "support/CaseName.h"

namespace support {

// Runs the event loop until `done` holds or `ms` pass; returns whether it held.
inline bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Has the kernel kill the program `process` starts when this test program ends first, however it
// ends (a crash included): set before start().
inline void dieWithTest(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

}  // namespace support
