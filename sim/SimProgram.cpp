#include "sim/SimProgram.h"

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
#include "sim/SimSmcFront.h"
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
    for (const std::string& warning : loaded.profile->warnings) {
        std::fprintf(stderr, "tarnwick-sim: %s\n", warning.c_str());
    }
    const SimLayout layout = options.layout.value_or(loaded.profile->layout);
    if (std::string problem = loaded.profile->layoutProblem(layout); !problem.empty()) {
        return fail(loaded.profile->source + ": " + problem);
    }
    SimMachine machine(std::move(*loaded.profile));

    const std::filesystem::path dir = options.root / "run/tarnwick-sim";
    std::error_code code;
    std::filesystem::create_directories(dir, code);
    if (code) return fail(dir.string() + ": " + code.message());

    Reporter controlReport;
    Reporter fileReport;
    SimControlFile control(dir / "control.json");
    controlReport(control.refresh(machine));
    // state.json from an earlier run must not announce this one before it is ready.
    std::filesystem::remove(dir / "state.json", code);
    SimSysfs sysfs(options.root, layout == SimLayout::macsmc_hwmon);
    std::string error;
    if (!sysfs.prepare(machine, error)) return fail(error);
    // Readiness: the socket appears once every file is in place; the driver's files, which have
    // no single last file, are in place once state.json appears.
    std::unique_ptr<SimSmcFront> front;
    if (layout != SimLayout::socket) {
        front = SimSmcFront::open(layout, options.root, machine, error, options.fanControl);
        if (!front) return fail(error);
    }
    // The driver layout's record of client writes goes into the state beside the machine's.
    const auto* driver = dynamic_cast<const SimMacsmcHwmon*>(front.get());
    if (!SimFile::replace(dir / "state.json", SimState::render(machine, driver), error)) {
        return fail(error);
    }
    if (!front) {
        front = SimSmcFront::open(layout, options.root, machine, error, options.fanControl);
        if (!front) return fail(error);
    }
    std::printf("tarnwick-sim: %s (%s) serving %s\n", machine.profile().brand.c_str(),
                machine.profile().source.c_str(), front->where().c_str());
    std::fflush(stdout);

    const auto tick = std::chrono::milliseconds(options.tickMs);
    auto last = Clock::now();
    auto next = last + tick;
    for (;;) {
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now());
        const int timeout = static_cast<int>(std::clamp<int64_t>(wait.count() + 1, 0, 60000));
        if (front->serve(timeout, signals.fd)) {
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
        if (front->update(error) && sysfs.update(machine, error) &&
            SimFile::replace(dir / "state.json", SimState::render(machine, driver), error)) {
            fileReport.clear();
        } else {
            fileReport(error);
        }
    }
    front.reset();
    std::printf("tarnwick-sim: stopped\n");
    return 0;
}

}  // namespace SimProgram
