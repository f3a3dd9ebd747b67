// Throughput of the SMC exchange and the cost of listing every key, on the simulated Mac: in
// process, and through a running tarnwick-sim's socket. Run by hand:
//   csmc_measure [path/to/tarnwick-sim]

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "CSMC/smc.h"
#include "CSMC/transport.h"
#include "FanCore/SMC/SMC.h"
#include "sim/SimMachine.h"
#include "sim/SimTransport.h"
#include "support/Process.h"
#include "support/TempRoot.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

uint64_t total(const SimExchangeCounts& c) {
    return c.keyInfo + c.read + c.write + c.keyAtIndex + c.other + c.ioFailures;
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Calls `step` (which makes `exchangesPerStep` exchanges) for about `budget` seconds.
template <typename Step>
void rate(const char* what, int exchangesPerStep, double budget, Step step) {
    const auto start = Clock::now();
    long steps = 0;
    int failures = 0;
    while (seconds(Clock::now() - start) < budget) {
        for (int i = 0; i < 100; ++i) {
            if (!step()) ++failures;
        }
        steps += 100;
    }
    const double elapsed = seconds(Clock::now() - start);
    std::printf("  %-16s %10.0f exchanges/s  (%ld calls, %.0f ns per exchange, %d failed)\n", what,
                static_cast<double>(steps * exchangesPerStep) / elapsed, steps,
                elapsed * 1e9 / static_cast<double>(steps * exchangesPerStep), failures);
}

void inProcess() {
    SimMachine machine{kSimDefaultProfile};
    smc_set_transport_factory(SimTransport::factory(machine));
    const uint64_t before = total(machine.counts());
    const auto start = Clock::now();
    const std::vector<uint32_t> keys = SMC::allKeys();
    const double elapsed = seconds(Clock::now() - start);
    std::printf("in process, profile %s:\n", std::string(kSimDefaultProfile).c_str());
    std::printf("  SMC::allKeys: %zu keys, %llu exchanges counted by the machine (%.3f ms)\n",
                keys.size(), static_cast<unsigned long long>(total(machine.counts()) - before),
                elapsed * 1e3);
    smc_info info;
    const uint32_t fnum = smc_fourcc("FNum");
    rate("smc_key_info", 1, 1.0, [&] { return smc_key_info(fnum, &info) == 0; });
    rate("SMC::readDouble", 2, 1.0, [] { return SMC::readDouble("F0Ac").has_value(); });
    smc_set_transport_factory([] { return SmcOpenResult{-1, nullptr}; });
}

bool throughSocket(const fs::path& program) {
    const support::TempRoot root({}, "csmc-measure");
    std::optional<support::Child> sim;
    try {
        sim.emplace(std::vector<std::string>{program.string(), "--root", root.path().string()},
                    std::vector<std::string>{},
                    support::ChildOutput{.output = "/dev/null", .errors = {}});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
    const fs::path socket = root.path() / "run/tarnwick-sim/smc.sock";
    support::eventually([&] { return support::acceptsConnections(socket); });

    smc_set_transport_factory({});
    bool ok = SMC::open();
    if (ok) {
        std::printf("through %s's socket, default profile:\n", program.filename().c_str());
        const auto start = Clock::now();
        const std::vector<uint32_t> keys = SMC::allKeys();
        std::printf("  SMC::allKeys: %zu keys in %.3f ms\n", keys.size(),
                    seconds(Clock::now() - start) * 1e3);
        smc_info described;
        const uint32_t fnum = smc_fourcc("FNum");
        rate("smc_key_info", 1, 2.0, [&] { return smc_key_info(fnum, &described) == 0; });
        rate("SMC::readDouble", 2, 2.0, [] { return SMC::readDouble("F0Ac").has_value(); });
    } else {
        std::fprintf(stderr, "no SMC at %s\n", socket.c_str());
    }
    smc_set_transport_factory([] { return SmcOpenResult{-1, nullptr}; });
    sim->stop(SIGTERM);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    inProcess();
    const fs::path program =
        argc > 1 ? fs::path(argv[1]) : fs::path(TARNWICK_BUILD_DIR) / "bin" / "tarnwick-sim";
    return throughSocket(program) ? 0 : 1;
}
