#include "tarnwickd/Daemon.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "FanCore/Policy/Paths.h"
#include "FanCore/SMC/SMC.h"
#include "FanCore/Sensors/Fans.h"
#include "tarnwickd/Clock.h"
#include "tarnwickd/ControlLoop.h"
#include "tarnwickd/Notifier.h"
#include "tarnwickd/SmcMachine.h"
#include "tarnwickd/StopSignals.h"

namespace {

void makeFolder(const std::filesystem::path& folder, mode_t mode) {
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    ::chmod(folder.c_str(), mode);
}

}  // namespace

namespace Daemon {

int run() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Blocked before anything else, so that a stop asked for during start-up waits for the loop
    // instead of killing the process half-way.
    const StopSignals signals;

    if (!SMC::open()) {
        std::cout << "tarnwickd: cannot open SMC\n" << std::flush;
        return 1;
    }
    makeFolder(Paths::dir(), 01777);
    makeFolder(Paths::statusDir(), 0755);
    // A read-only driver holds no fan of ours to hand back, and would refuse the writes.
    const std::string blocked = Fans::controlBlocked();
    if (blocked.empty()) Fans::setAuto();

    SmcMachine machine;
    SystemClock clock;
    ControlLoop loop(machine, clock, std::cout);
    std::cout << "tarnwickd: started, " << Fans::count() << " fans\n" << std::flush;
    if (!blocked.empty()) std::cout << "tarnwickd: read-only, " << blocked << "\n" << std::flush;

    const Notifier notifier;
    notifier.send("READY=1");

    int signal = StopSignals::wait(std::chrono::seconds::zero());
    while (signal == 0) {
        loop.pass();
        notifier.send("WATCHDOG=1");
        signal = StopSignals::wait(tick);
    }
    loop.stop();
    return 0;
}

}  // namespace Daemon
