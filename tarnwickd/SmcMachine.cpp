#include "tarnwickd/SmcMachine.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "CSMC/smc.h"
#include "CSMC/transport.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/SMC/SMC.h"
#include "FanCore/Sensors/Power.h"

SmcMachine::SmcMachine(std::chrono::milliseconds discoveryPause)
    : discoveryPause_(discoveryPause), known_(Paths::knownFans()) {
    known_.saw(Fans::count());
}

// A pass starts with its readings, so the traffic since the last call is the previous pass's.
Readings SmcMachine::readings() {
    if (!sensors_) sensors_.emplace(discoveryPause_);
    const smc_traffic traffic = smc_traffic_so_far();
    complete_ = pace_.complete(
        std::chrono::steady_clock::now(), traffic.exchanges - exchangesBefore_,
        std::chrono::nanoseconds(traffic.nanoseconds - nanosecondsBefore_), smc_slow_bus());
    exchangesBefore_ = traffic.exchanges;
    nanosecondsBefore_ = traffic.nanoseconds;
    if (complete_) return sensors_->read(Sensors::Scope::everything);
    return sensors_->read(batteryRule_ ? Sensors::Scope::chipAndBattery : Sensors::Scope::chip);
}

PowerState SmcMachine::power() { return Power::state(); }

// Between complete passes on a slow bus the limits of the last complete read stand; the targets
// of driven fans never do, as the loop judges its own writes by them.
Fans::Scan SmcMachine::fans(bool driving) {
    Fans::Scan scan = Fans::scan(fans_, known_.count(), {.limits = complete_, .targets = driving});
    if (!scan.silent) fans_ = scan.fans;
    if (scan.countRead) known_.saw(static_cast<int64_t>(scan.fans.size()));
    return scan;
}

bool SmcMachine::setManual(double rpm, const std::vector<Fan>& fans) {
    return Fans::setManual(rpm, fans);
}

std::vector<int64_t> SmcMachine::handBack(const std::vector<int64_t>& indices, bool retry) {
    return Fans::handBack(indices, retry);
}

std::vector<int64_t> SmcMachine::knownFans() {
    return Fans::indices(std::max(known_.count(), static_cast<int64_t>(fans_.size())));
}

std::string SmcMachine::controlBlocked() { return Fans::controlBlocked(); }

// A pass loads its settings first; they tell which temperatures its decisions need.
Config SmcMachine::loadConfig(std::string& problem) {
    const Config config = Config::load(problem);
    batteryRule_ = config.batteryCooling;
    return config;
}

void SmcMachine::saveStatus(const Status& status) { (void)status.save(); }

// The key's description is asked once per connection, so saying it costs no exchange per pass.
void SmcMachine::publish(const Measurements& measurements) {
    Measurements published = measurements;
    published.unlockKey = SMC::exists("Ftst");
    (void)published.save();
}

void SmcMachine::removeStatus() {
    std::error_code ignored;
    std::filesystem::remove(Paths::status(), ignored);
    std::filesystem::remove(Paths::measurements(), ignored);
}
