#include "tarnwickd/SmcMachine.h"

#include <filesystem>
#include <system_error>

#include "CSMC/smc.h"
#include "CSMC/transport.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Sensors/Fans.h"
#include "FanCore/Sensors/Power.h"

SmcMachine::SmcMachine(std::chrono::milliseconds discoveryPause) : sensors_(discoveryPause) {}

// A pass starts with its readings, so the traffic since the last call is the previous pass's.
Readings SmcMachine::readings() {
    const smc_traffic traffic = smc_traffic_so_far();
    complete_ = pace_.complete(
        std::chrono::steady_clock::now(), traffic.exchanges - exchangesBefore_,
        std::chrono::nanoseconds(traffic.nanoseconds - nanosecondsBefore_), smc_slow_bus());
    exchangesBefore_ = traffic.exchanges;
    nanosecondsBefore_ = traffic.nanoseconds;
    if (complete_) return sensors_.read(Sensors::Scope::everything);
    return sensors_.read(batteryRule_ ? Sensors::Scope::chipAndBattery : Sensors::Scope::chip);
}

PowerState SmcMachine::power() { return Power::state(); }

// Between complete passes on a slow bus the limits and targets of the last complete read stand.
std::optional<std::vector<Fan>> SmcMachine::fans() {
    std::optional<std::vector<Fan>> fans =
        complete_ || fans_.empty() ? Fans::readChecked() : Fans::readSpeeds(fans_);
    if (fans) fans_ = *fans;
    return fans;
}

bool SmcMachine::setManual(double rpm, const std::vector<Fan>& fans) {
    return Fans::setManual(rpm, fans);
}

bool SmcMachine::setAuto() { return Fans::setAuto(); }

std::string SmcMachine::controlBlocked() { return Fans::controlBlocked(); }

// A pass loads its settings first; they tell which temperatures its decisions need.
Config SmcMachine::loadConfig() {
    const Config config = Config::load();
    batteryRule_ = config.batteryCooling;
    return config;
}

void SmcMachine::saveStatus(const Status& status) { (void)status.save(); }

void SmcMachine::publish(const Measurements& measurements) { (void)measurements.save(); }

void SmcMachine::removeStatus() {
    std::error_code ignored;
    std::filesystem::remove(Paths::status(), ignored);
    std::filesystem::remove(Paths::measurements(), ignored);
}
