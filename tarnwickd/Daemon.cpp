#include "tarnwickd/Daemon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "CSMC/deadline.h"
#include "CSMC/sandbox_root.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/SMC/SMC.h"
#include "tarnwickd/Clock.h"
#include "tarnwickd/ControlLoop.h"
#include "tarnwickd/InstanceLock.h"
#include "tarnwickd/Log.h"
#include "tarnwickd/ServiceNotifier.h"
#include "tarnwickd/SmcMachine.h"
#include "tarnwickd/StopSignals.h"

namespace {

// The status folder is root's alone (its parent only root may write in): anything in its place
// that is not a folder, a planted link included, goes, so that the lock and the status never
// land elsewhere. The mode is set through a descriptor that did not follow a link.
void makeStatusFolder(const std::filesystem::path& folder) {
    std::error_code ignored;
    std::filesystem::create_directories(folder.parent_path(), ignored);
    ::mkdir(folder.c_str(), 0755);
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && ::unlink(folder.c_str()) == 0 && ::mkdir(folder.c_str(), 0755) == 0) {
        Log::line(std::cout, Log::Priority::warning,
                  folder.string() + " was not a folder; replaced it");
        fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) return;  // the lock then says why the daemon cannot go on
    if (::fchmod(fd, 0755) != 0) {
        Log::line(std::cout, Log::Priority::warning, "cannot set the mode of " + folder.string());
    }
    ::close(fd);
}

// Opens the SMC. Early after boot its driver may still be loading, so on the real machine the
// daemon waits up to half a minute for it then; false when there is none (or a stop came).
bool openSmc() {
    using namespace std::chrono_literals;
    const bool booting = SandboxRoot::root() == "/" && SystemClock().sinceBoot() < 2min;
    for (int waited = 0;; ++waited) {
        if (SMC::open()) return true;
        if (!booting || waited >= 30 || StopSignals::isStop(StopSignals::wait(1s))) return false;
    }
}

// Runs `work` with SMC exchanges cut off after `limit` (or at once when a stop is pending).
template <typename Work>
auto withDeadline(std::chrono::milliseconds limit, Work work) {
    SmcDeadline::set(std::chrono::steady_clock::now() + limit);
    auto result = work();
    SmcDeadline::set(std::nullopt);
    return result;
}

}  // namespace

namespace Daemon {

int run() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Blocked before anything else, so that a stop asked for during start-up waits for the loop
    // instead of killing the process half-way.
    const StopSignals signals;

    if (!openSmc()) {
        Log::line(std::cout, Log::Priority::error, "cannot open SMC");
        return 1;
    }
    makeStatusFolder(Paths::statusDir());
    // Before any fan is written: a second daemon's start would hand the first one's fans back.
    const InstanceLock lock(Paths::daemonLock());
    if (!lock.held()) {
        Log::line(std::cout, Log::Priority::error, lock.problem());
        return 1;
    }
    SmcDeadline::setStop(&StopSignals::pending);

    SmcMachine machine;
    SystemClock clock;
    ControlLoop loop(machine, clock, std::cout);
    // Before the sensors' discovery pause: a crashed predecessor may have left the fans slow.
    withDeadline(passDeadline, [&] {
        loop.start();
        return 0;
    });
    Log::line(std::cout, Log::Priority::info,
              "started, " + std::to_string(machine.knownFans().size()) + " fans");
    if (const std::string blocked = machine.controlBlocked(); !blocked.empty()) {
        Log::line(std::cout, Log::Priority::warning, "read-only, " + blocked);
    }

    const ServiceNotifier notifier;
    notifier.send("READY=1");

    int signal = StopSignals::wait(std::chrono::seconds::zero());
    while (!StopSignals::isStop(signal)) {
        // The sleep hook waits for the hand-back; a wake runs a fresh pass at once.
        withDeadline(passDeadline, [&] {
            if (signal == StopSignals::sleepSignal) {
                loop.sleep();
            } else {
                if (signal == StopSignals::wakeSignal) loop.wake();
                loop.pass();
            }
            return 0;
        });
        notifier.send("WATCHDOG=1");
        signal = StopSignals::wait(tick);
    }
    // The stop signal has been taken; a second one must not cut the hand-back short.
    SmcDeadline::setStop(nullptr);
    if (withDeadline(stopDeadline, [&] { return loop.stop(); })) return 0;
    Log::line(std::cout, Log::Priority::error,
              "stopped, but a fan did not return to automatic control");
    return 3;
}

}  // namespace Daemon
