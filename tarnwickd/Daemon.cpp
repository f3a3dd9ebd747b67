#include "tarnwickd/Daemon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
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
// land elsewhere. The mode is set through a descriptor that did not follow a link. Empty when the
// folder is there, else why it cannot be made.
std::string makeStatusFolder(const std::filesystem::path& folder) {
    const auto failed = [&](const char* what) {
        return "cannot " + std::string(what) + " " + folder.string() + ": " + std::strerror(errno);
    };
    std::error_code ignored;  // a parent that cannot be made fails the mkdir below
    std::filesystem::create_directories(folder.parent_path(), ignored);
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return failed("make");
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (::unlink(folder.c_str()) != 0) return failed("replace");
        if (::mkdir(folder.c_str(), 0755) != 0) return failed("make");
        Log::line(std::cout, Log::Priority::warning,
                  folder.string() + " was not a folder; replaced it");
        fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return failed("open");
    }
    // A wrong mode only hides the status from the application: the daemon goes on.
    if (::fchmod(fd, 0755) != 0) {
        Log::line(std::cout, Log::Priority::warning, failed("set the mode of"));
    }
    ::close(fd);
    return {};
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
    struct Lift {
        ~Lift() { SmcDeadline::set(std::nullopt); }
    } lift;
    SmcDeadline::set(std::chrono::steady_clock::now() + limit);
    return work();
}

// Hands the fans back when the daemon's run ends, however it ends: the stop, an early return or
// an exception. A stop signal taken already must not cut the hand-back short, so none does.
class HandBackGuard {
  public:
    explicit HandBackGuard(ControlLoop& loop) : loop_(loop) {}
    ~HandBackGuard() { (void)handBack(); }
    HandBackGuard(const HandBackGuard&) = delete;
    HandBackGuard& operator=(const HandBackGuard&) = delete;

    // Hands every known fan back and removes the status, once; true when every fan read back
    // automatic (a failure is logged).
    bool handBack() {
        if (result_) return *result_;
        SmcDeadline::setStop(nullptr);
        result_ = withDeadline(Daemon::stopDeadline, [&] { return loop_.stop(); });
        if (!*result_) {
            Log::line(std::cout, Log::Priority::error,
                      "stopped, but a fan did not return to automatic control");
        }
        return *result_;
    }

  private:
    ControlLoop& loop_;
    std::optional<bool> result_;
};

// The loop from the start-up hand-back to the stop; the exit status.
int serve(SmcMachine& machine) {
    SystemClock clock;
    ControlLoop loop(machine, clock, std::cout);
    HandBackGuard handBack(loop);
    // Before the sensors' discovery pause: a crashed predecessor may have left the fans slow.
    withDeadline(Daemon::passDeadline, [&] {
        loop.start();
        return 0;
    });
    // The loop has named the fans that stay; it keeps them at the safety speed from the first
    // pass on.
    const std::string started = "started, " + std::to_string(machine.knownFans().size()) + " fans";
    if (const size_t held = loop.stuck().size(); held > 0) {
        Log::line(std::cout, Log::Priority::warning,
                  started + ", " + std::to_string(held) + " not back in automatic control");
    } else {
        Log::line(std::cout, Log::Priority::info, started);
    }
    if (const std::string blocked = machine.controlBlocked(); !blocked.empty()) {
        Log::line(std::cout, Log::Priority::warning, "read-only, " + blocked);
    }

    const ServiceNotifier notifier;
    notifier.send("READY=1");

    int signal = StopSignals::wait(std::chrono::seconds::zero());
    while (!StopSignals::isStop(signal)) {
        // The sleep hook waits for the hand-back; a wake runs a fresh pass at once.
        withDeadline(Daemon::passDeadline, [&] {
            if (signal == StopSignals::sleepSignal) {
                loop.sleep();
            } else {
                if (signal == StopSignals::wakeSignal) loop.wake();
                loop.pass();
            }
            return 0;
        });
        notifier.send("WATCHDOG=1");
        signal = StopSignals::wait(Daemon::tick);
    }
    return handBack.handBack() ? 0 : 3;
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
    if (const std::string problem = makeStatusFolder(Paths::statusDir()); !problem.empty()) {
        Log::line(std::cout, Log::Priority::error, problem);
        return 1;
    }
    // Before any fan is written: a second daemon's start would hand the first one's fans back.
    const InstanceLock lock(Paths::daemonLock());
    if (!lock.held()) {
        Log::line(std::cout, Log::Priority::error, lock.problem());
        return 1;
    }
    SmcDeadline::setStop(&StopSignals::pending);

    SmcMachine machine;
    try {
        return serve(machine);
    } catch (const std::exception& error) {
        // The fans are back by now; the process still ends as a crash does, so the service
        // manager starts it again.
        Log::line(std::cout, Log::Priority::error,
                  std::string("stopped by an error: ") + error.what());
        throw;
    } catch (...) {
        Log::line(std::cout, Log::Priority::error, "stopped by an unknown error");
        throw;
    }
}

}  // namespace Daemon
