#include "tarnwickd/SmcMachine.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "CSMC/smc.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/SMC/SMC.h"
#include "FanCore/Sensors/Power.h"
#include "tarnwickd/StopSignals.h"

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
    // On a slow bus each group costs two keys a pass (its hottest and the next in turn); the
    // curve's input then stays the group's maximum as long as no key overtakes the hottest by
    // more within one round.
    const Sensors::Keys keys = pace_.slow() ? Sensors::Keys::sweep : Sensors::Keys::all;
    if (complete_) return sensors_->read(Sensors::Scope::everything, keys);
    return sensors_->read(
        settingsRead_.batteryCooling ? Sensors::Scope::chipAndBattery : Sensors::Scope::chip, keys);
}

PowerState SmcMachine::power() { return Power::state(); }

// Between complete passes on a slow bus the limits of the last complete read stand; the targets
// of driven fans never do, as the loop judges its own writes by them.
Fans::Scan SmcMachine::fans(bool driving) {
    // The count is read with the limits; a count that failed is asked for on every pass.
    Fans::Scan scan =
        Fans::scan(fans_, known_.count(),
                   {.limits = complete_, .targets = driving, .count = complete_ || !countRead_});
    countRead_ = scan.countRead;
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

bool SmcMachine::stopping() { return StopSignals::pending(); }

// A pass loads its settings first; they tell which temperatures its decisions need.
Config SmcMachine::loadConfig(std::string& problem) {
    if (!settings_.changed(Paths::config())) {
        problem = settingsProblem_;
        return settingsRead_;
    }
    settingsRead_ = Config::load(settingsProblem_);
    problem = settingsProblem_;
    return settingsRead_;
}

// Written when something but the time stamp changed, and at least every few seconds so that
// readers that judge the daemon by the file's age keep seeing it fresh. The measurements are
// new readings every pass, and readers take them for 5 s only: they are written every pass.
void SmcMachine::saveStatus(const Status& status) {
    Status unstamped = status;
    unstamped.updated = 0;
    if (statusWrites_.due(unstamped.encode()) && !status.save()) statusWrites_.forget();
}

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
    statusWrites_.forget();
}
