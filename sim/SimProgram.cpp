#include "sim/SimProgram.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>

#include "sim/SimControlFile.h"
#include "sim/SimFile.h"
#include "sim/SimMacsmcHwmon.h"
#include "sim/SimServer.h"
#include "sim/SimState.h"
#include "sim/SimSysfs.h"

namespace SimProgram {
namespace {

using Clock = std::chrono::steady_clock;

int fail(const std::string& message) {
    std::fprintf(stderr, "tarnwick-sim: %s\n", message.c_str());
    return 1;
}

// Repeated failures of the same kind (a full disk, a root removed under us) are told once.
class Reporter {
  public:
    void operator()(const std::string& message) {
        if (message.empty() || message == last_) return;
        last_ = message;
        std::fprintf(stderr, "tarnwick-sim: %s\n", message.c_str());
    }
    void clear() { last_.clear(); }

  private:
    std::string last_;
};

struct SignalFd {
    int fd = -1;
    ~SignalFd() {
        if (fd >= 0) ::close(fd);
    }
};

// Waits up to `timeout` ms for the signal descriptor; true when a signal is pending.
bool waitForSignal(int timeout, int signalFd) {
    pollfd entry{signalFd, POLLIN, 0};
    return ::poll(&entry, 1, timeout) > 0 && (entry.revents & POLLIN) != 0;
}

}  // namespace

int run(const SimOptions& options) {
    // Signals wait in the signalfd and are read by the loop; no handler ever runs.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    if (sigprocmask(SIG_BLOCK, &stops, nullptr) != 0) return fail("cannot block signals");
    SignalFd signals;
    signals.fd = ::signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signals.fd < 0) return fail("cannot create a signalfd");
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);

    SimProfile::Loaded loaded = SimProfile::load(options.profile);
    if (!loaded.profile) return fail(loaded.error);
    if (!options.layout.empty()) {
        if (std::string problem = loaded.profile->layoutProblem(options.layout); !problem.empty()) {
            return fail(loaded.profile->source + ": " + problem);
        }
        loaded.profile->layout = options.layout;
    }
    const bool socketLayout = loaded.profile->layout == "socket";
    SimMachine machine(std::move(*loaded.profile));

    const std::filesystem::path dir = options.root / "run/tarnwick-sim";
    std::error_code code;
    std::filesystem::create_directories(dir, code);
    if (code) return fail(dir.string() + ": " + code.message());

    Reporter controlReport;
    Reporter fileReport;
    SimControlFile control(dir / "control.json");
    controlReport(control.refresh(machine));
    // A socket or readiness mark left by an earlier run would send clients to the wrong SMC.
    const std::filesystem::path ready = dir / "ready";
    std::filesystem::remove(ready, code);
    if (!socketLayout) std::filesystem::remove(dir / "smc.sock", code);
    SimSysfs sysfs(options.root, !socketLayout);
    std::string error;
    if (!sysfs.prepare(machine, error)) return fail(error);
    std::unique_ptr<SimMacsmcHwmon> driver;
    if (!socketLayout) {
        driver = std::make_unique<SimMacsmcHwmon>(options.root, machine.profile().hwmon.size(),
                                                  options.fanControl);
        if (!driver->prepare(machine, error)) return fail(error);
    }
    if (!SimFile::replace(dir / "state.json", SimState::render(machine, driver.get()), error)) {
        return fail(error);
    }
    // The socket, or for a driver layout the readiness mark, comes last: once it exists, every
    // file is in place.
    std::unique_ptr<SimServer> server;
    if (socketLayout) {
        server = SimServer::listen(dir / "smc.sock", machine, error);
        if (!server) return fail(error);
        std::printf("tarnwick-sim: %s (%s) serving %s\n", machine.profile().brand.c_str(),
                    machine.profile().source.c_str(), (dir / "smc.sock").c_str());
    } else {
        if (!SimFile::replace(ready, machine.profile().layout + "\n", error)) return fail(error);
        std::printf("tarnwick-sim: %s (%s) as %s, fan_control %s\n",
                    machine.profile().brand.c_str(), machine.profile().source.c_str(),
                    machine.profile().layout.c_str(), options.fanControl ? "on" : "off");
    }
    std::fflush(stdout);

    const auto tick = std::chrono::milliseconds(options.tickMs);
    auto last = Clock::now();
    auto next = last + tick;
    for (;;) {
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now());
        const int timeout = static_cast<int>(std::clamp<int64_t>(wait.count() + 1, 0, 60000));
        if (server ? server->serve(timeout, signals.fd) : waitForSignal(timeout, signals.fd)) {
            signalfd_siginfo info{};
            if (::read(signals.fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) break;
        }
        const auto now = Clock::now();
        if (now < next) continue;
        // A stopped process (SIGSTOP, a debugger) must not make the model leap.
        const double elapsed = std::min(std::chrono::duration<double>(now - last).count(), 1.0);
        last = now;
        next += tick;
        if (next <= now) next = now + tick;

        controlReport(control.refresh(machine));
        machine.advance(elapsed);
        error.clear();
        if (sysfs.update(machine, error) && (!driver || driver->update(machine, error)) &&
            SimFile::replace(dir / "state.json", SimState::render(machine, driver.get()), error)) {
            fileReport.clear();
        } else {
            fileReport(error);
        }
    }
    server.reset();
    std::filesystem::remove(ready, code);
    std::printf("tarnwick-sim: stopped\n");
    return 0;
}

}  // namespace SimProgram
