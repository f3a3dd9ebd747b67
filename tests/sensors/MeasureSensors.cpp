// Measures what one discovery and one reading pass cost on the default simulated Mac: SMC
// exchanges by command and wall time, next to the counts the design predicts. Not a test: run it
// by hand (build target sensors_measure) and read the numbers:
//   sensors_measure [PROFILE [ROUNDS]]  in process, on a fresh sandbox root
//   sensors_measure --socket [ROUNDS]   through the socket of a tarnwick-sim at TARNWICK_ROOT

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "CSMC/hid.h"
#include "CSMC/sandbox_root.h"
#include "CSMC/smc.h"
#include "CSMC/transport.h"
#include "FanCore/Diagnostics/Diagnostics.h"
#include "FanCore/SMC/SMC.h"
#include "FanCore/Sensors/Chip.h"
#include "FanCore/Sensors/Fans.h"
#include "FanCore/Sensors/Sensors.h"
#include "SensorRoot.h"
#include "sim/SimMachine.h"
#include "sim/SimSysfs.h"
#include "sim/SimTransport.h"

namespace {

using Clock = std::chrono::steady_clock;

uint64_t total(const SimExchangeCounts& c) { return c.keyInfo + c.read + c.write + c.keyAtIndex; }

void print(const char* what, const SimExchangeCounts& before, const SimExchangeCounts& after,
           double milliseconds, uint64_t predicted) {
    std::printf(
        "%-34s exchanges %5llu (info %llu, read %llu, index %llu, write %llu), "
        "predicted %llu, %.3f ms\n",
        what, static_cast<unsigned long long>(total(after) - total(before)),
        static_cast<unsigned long long>(after.keyInfo - before.keyInfo),
        static_cast<unsigned long long>(after.read - before.read),
        static_cast<unsigned long long>(after.keyAtIndex - before.keyAtIndex),
        static_cast<unsigned long long>(after.write - before.write),
        static_cast<unsigned long long>(predicted), milliseconds);
}

double since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

// Against a running tarnwick-sim under TARNWICK_ROOT, through its socket: wall time only (the
// simulator's state.json counts the exchanges).
int measureSocket(int rounds) {
    if (!SMC::open()) {
        std::fprintf(stderr, "no SMC under %s\n", SandboxRoot::root().c_str());
        return 1;
    }
    Chip::brand();
    auto start = Clock::now();
    const Sensors sensors;
    std::printf("socket: discovery %.3f ms (whole values re-read for up to 0.3 s)\n", since(start));
    start = Clock::now();
    (void)sensors.read();
    std::printf("socket: first Sensors::read() %.3f ms\n", since(start));
    start = Clock::now();
    (void)Fans::read();
    std::printf("socket: first Fans::read() %.3f ms\n", since(start));
    start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        (void)sensors.read();
        (void)Fans::read();
    }
    std::printf("socket: Sensors::read() + Fans::read() %.3f ms per pass (mean of %d)\n",
                since(start) / rounds, rounds);
    return 0;
}

int main(int argc, char** argv) {
    const char* profileName = argc > 1 ? argv[1] : "mbp14-m3pro";
    const int rounds = std::max(1, argc > 2 ? std::atoi(argv[2]) : 200);
    if (std::string_view(profileName) == "--socket") return measureSocket(rounds);

    const SensorRoot sandbox;
    const std::filesystem::path& root = sandbox.path();

    SimMachine machine{std::string_view(profileName)};
    std::string error;
    SimSysfs sysfs(root);
    if (!sysfs.prepare(machine, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    smc_set_transport_factory(SimTransport::factory(machine));

    const uint64_t indexed = smc_key_count();
    Chip::brand();  // read once here so that discovery's time is the SMC's

    const SimExchangeCounts beforeDiscovery = machine.counts();
    auto start = Clock::now();
    const Sensors sensors;  // whole values re-read for up to the production 0.3 s
    const double discoveryMs = since(start);
    const SimExchangeCounts afterDiscovery = machine.counts();

    uint64_t discovered = 0;
    for (const auto& [group, keys] : sensors.groups) discovered += keys.size();
    // What the design predicts: two exchanges for the count, one per index, two per read of a
    // classified key in the first pass and, in the second, two per in-window candidate whose
    // first value is whole (more for one that stays whole while it is read again).
    uint64_t classified = 0;
    uint64_t candidates = 0;
    for (const uint32_t key : SMC::allKeys()) {
        if (!Sensors::groupFor(SMC::name(key), Chip::generation())) continue;
        ++classified;
        const auto value = SMC::readDouble(key);
        if (value && *value > 10 && *value < 130 && *value == std::round(*value)) ++candidates;
    }
    std::printf(
        "profile %s: %llu indexed keys, %llu classified, %llu whole candidates, %llu kept\n",
        profileName, static_cast<unsigned long long>(indexed),
        static_cast<unsigned long long>(classified), static_cast<unsigned long long>(candidates),
        static_cast<unsigned long long>(discovered));
    print("discovery (re-reads up to 0.3 s)", beforeDiscovery, afterDiscovery, discoveryMs,
          2 + indexed + 2 * classified + 2 * candidates);
    start = Clock::now();
    const Sensors unpaused(std::chrono::milliseconds(0));
    std::printf("%-34s %.3f ms\n", "discovery without the pause", since(start));

    const int64_t fans = Fans::count();
    SimExchangeCounts before = machine.counts();
    start = Clock::now();
    const Readings readings = sensors.read();
    const double readMs = since(start);
    SimExchangeCounts after = machine.counts();
    print("Sensors::read()", before, after, readMs, 2 * discovered);

    before = machine.counts();
    start = Clock::now();
    const auto fanList = Fans::read();
    const double fansMs = since(start);
    after = machine.counts();
    print("Fans::read()", before, after, fansMs, 2 + 10 * static_cast<uint64_t>(fans));

    start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        (void)sensors.read();
        (void)Fans::read();
    }
    std::printf("Sensors::read() + Fans::read(): %.3f ms per pass (mean of %d)\n",
                since(start) / rounds, rounds);

    start = Clock::now();
    for (int i = 0; i < rounds; ++i) (void)Sensors::hid();
    std::printf("HID walk alone (%zu services): %.3f ms per pass\n", Sensors::hid().size(),
                since(start) / rounds);

    std::printf("cpu %.2f, gpu %.2f, die %.2f, %zu fans\n", readings.cpu.value_or(-1),
                readings.gpu.value_or(-1), readings.die.value_or(-1), fanList.size());

    start = Clock::now();
    const std::string report = Diagnostics::report(sensors);
    std::printf("Diagnostics::report: %.3f ms\n%s\n", since(start), report.c_str());
    for (const auto& pair : Sensors::hid()) {
        std::printf("  hid \"%s\" %.3f\n", pair.name.c_str(), pair.value);
    }

    smc_set_transport_factory({});
    return 0;
}
