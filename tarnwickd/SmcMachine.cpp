#include "tarnwickd/SmcMachine.h"

#include <filesystem>
#include <system_error>

#include "FanCore/Policy/Paths.h"
#include "FanCore/Sensors/Fans.h"
#include "FanCore/Sensors/Power.h"

SmcMachine::SmcMachine(std::chrono::milliseconds discoveryPause) : sensors_(discoveryPause) {}

Readings SmcMachine::readings() { return sensors_.read(); }

PowerState SmcMachine::power() { return Power::state(); }

std::optional<std::vector<Fan>> SmcMachine::fans() { return Fans::readChecked(); }

bool SmcMachine::setManual(double rpm) { return Fans::setManual(rpm); }

bool SmcMachine::setAuto() { return Fans::setAuto(); }

std::string SmcMachine::controlBlocked() { return Fans::controlBlocked(); }

Config SmcMachine::loadConfig() { return Config::load(); }

void SmcMachine::saveStatus(const Status& status) { (void)status.save(); }

void SmcMachine::removeStatus() {
    std::error_code ignored;
    std::filesystem::remove(Paths::status(), ignored);
}
