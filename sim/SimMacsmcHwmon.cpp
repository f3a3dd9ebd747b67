#include "sim/SimMacsmcHwmon.h"

#include <poll.h>

#include <cmath>
#include <system_error>

#include "CSMC/codec.h"
#include "CSMC/linux/MacsmcLabels.h"
#include "CSMC/linux/SysfsFile.h"
#include "sim/SimCodec.h"
#include "sim/SimFile.h"

namespace {

std::string fanFile(int fan, std::string_view suffix) {
    return "fan" + std::to_string(fan + 1) + "_" + std::string(suffix);
}

std::string fanKey(int fan, std::string_view suffix) {
    return "F" + std::to_string(fan) + std::string(suffix);
}

// The driver reads its float keys into whole numbers, dropping the fraction.
std::string whole(double value) {
    if (!std::isfinite(value)) return "0";
    return std::to_string(static_cast<long long>(std::trunc(value)));
}

// One SMC write as the driver makes it, through the machine's own exchange so that it is logged
// and answered like any client's; the SMC's result byte.
uint8_t smcWrite(SimMachine& machine, const std::string& key, double value) {
    smc_param request{};
    smc_param reply{};
    request.key = SimCodec::pack(key);
    request.command = SMC_CMD_KEY_INFO;
    if (machine.exchange(request, reply) != 0 || reply.result != 0) return SmcResult::error;
    const auto encoded = smc_encode(reply.data_type, reply.data_size, value);
    if (!encoded) return SmcResult::badArgument;
    request.command = SMC_CMD_WRITE_BYTES;
    request.data_size = encoded->length;
    std::copy_n(encoded->bytes.begin(), encoded->length, request.bytes);
    reply = {};
    if (machine.exchange(request, reply) != 0) return SmcResult::error;
    return reply.result;
}

}  // namespace

SimMacsmcHwmon::SimMacsmcHwmon(const std::filesystem::path& root, SimMachine& machine,
                               bool fanControl)
    : machine_(machine),
      dir_(root / "sys/class/hwmon" / ("hwmon" + std::to_string(machine.profile().hwmon.size()))),
      module_(root / "sys/module/macsmc_hwmon"),
      fanControl_(fanControl) {}

std::unique_ptr<SimMacsmcHwmon> SimMacsmcHwmon::publish(const std::filesystem::path& root,
                                                        SimMachine& machine, bool fanControl,
                                                        std::string& error) {
    std::unique_ptr<SimMacsmcHwmon> driver(new SimMacsmcHwmon(root, machine, fanControl));
    if (!driver->prepare(error)) return nullptr;
    return driver;
}

bool SimMacsmcHwmon::serve(int timeoutMs, int wakeFd) {
    // Clients reach the driver through files; there is nothing to answer between updates.
    pollfd entry{wakeFd, POLLIN, 0};
    return ::poll(&entry, wakeFd >= 0 ? 1 : 0, timeoutMs) > 0 && (entry.revents & POLLIN) != 0;
}

bool SimMacsmcHwmon::prepare(std::string& error) {
    SimMachine& machine = machine_;
    std::error_code code;
    std::filesystem::remove_all(module_, code);
    std::filesystem::create_directories(module_ / "parameters", code);
    std::filesystem::create_directories(dir_, code);
    if (code) {
        error = dir_.string() + ": " + code.message();
        return false;
    }
    if (machine.value("Ftst")) machine.setValue("Ftst", 1);

    // The first wording of each key is what current devicetrees say; a node exists only where
    // the machine has the key.
    temperatureKeys_.clear();
    labels_.clear();
    for (const MacsmcLabels::Sensor& sensor : MacsmcLabels::temperatures()) {
        const std::string key(sensor.key);
        bool known = false;
        for (const std::string& seen : temperatureKeys_) known = known || seen == key;
        if (known || !machine.value(key)) continue;
        temperatureKeys_.push_back(key);
        labels_.emplace_back(sensor.label);
    }
    const size_t fans = machine.fans().size();
    published_.assign(fans, {});
    seen_.assign(fans, {});
    manual_.assign(fans, false);
    writes_.clear();

    if (!SimFile::update(module_ / "parameters/fan_control", fanControl_ ? "Y\n" : "N\n", error) ||
        !SimFile::update(dir_ / "name", "macsmc_hwmon\n", error, 0444)) {
        return false;
    }
    for (size_t n = 0; n < labels_.size(); ++n) {
        const std::string file = "temp" + std::to_string(n + 1) + "_label";
        if (!SimFile::update(dir_ / file, labels_[n] + "\n", error, 0444)) return false;
    }
    for (size_t fan = 0; fan < fans; ++fan) {
        const std::string label = fans == 1 ? "Fan" : "Fan " + std::to_string(fan + 1);
        if (!SimFile::update(dir_ / fanFile(static_cast<int>(fan), "label"), label + "\n", error,
                             0444)) {
            return false;
        }
    }
    return publishValues(error);
}

bool SimMacsmcHwmon::update(std::string& error) {
    for (size_t fan = 0; fan < published_.size(); ++fan) {
        const auto text = SysfsFile::read(dir_ / fanFile(static_cast<int>(fan), "target"), 64);
        seen_[fan] = text.value_or(std::string());
        if (text && *text != published_[fan]) apply(static_cast<int>(fan), *text);
    }
    return publishValues(error);
}

void SimMacsmcHwmon::apply(int fan, const std::string& text) {
    SimMachine& machine = machine_;
    const std::optional<long long> rpm = SysfsFile::parseInteger(text);
    std::string result = "ok";
    const bool hasMode = machine.value(fanKey(fan, "Md")).has_value();
    if (!fanControl_ || !hasMode) {
        result = "EOPNOTSUPP";
    } else if (!rpm) {
        result = "EINVAL";
    } else {
        const double min = std::trunc(machine.value(fanKey(fan, "Mn")).value_or(0));
        const double max = std::trunc(machine.value(fanKey(fan, "Mx")).value_or(0));
        const auto speed = static_cast<double>(*rpm);
        if (speed >= min && speed <= max) {
            const auto index = static_cast<size_t>(fan);
            if (!manual_[index] && smcWrite(machine, fanKey(fan, "Md"), 1) == 0) {
                manual_[index] = true;
            }
            if (!manual_[index] || smcWrite(machine, fanKey(fan, "Tg"), speed) != 0) result = "EIO";
        } else if (*rpm == 0) {
            const auto index = static_cast<size_t>(fan);
            if (manual_[index] && smcWrite(machine, fanKey(fan, "Md"), 0) == 0) {
                manual_[index] = false;
            }
            if (manual_[index]) result = "EIO";
        } else {
            result = "EINVAL";
        }
    }
    writes_.push_back({fanFile(fan, "target"), std::string(SysfsFile::trim(text)), result});
    while (writes_.size() > kWriteLogSize) writes_.pop_front();
    // Whatever landed in the file, it shows the setpoint again at once.
    published_[static_cast<size_t>(fan)].clear();
}

bool SimMacsmcHwmon::publishValues(std::string& error) {
    const SimMachine& machine = machine_;
    for (size_t n = 0; n < temperatureKeys_.size(); ++n) {
        const double celsius = machine.value(temperatureKeys_[n]).value_or(0);
        const std::string file = "temp" + std::to_string(n + 1) + "_input";
        const auto milli = static_cast<long long>(std::llround(celsius * 1000.0));
        if (!SimFile::update(dir_ / file, std::to_string(milli) + "\n", error, 0444)) {
            return false;
        }
    }
    const std::vector<SimFanState> fans = machine.fans();
    for (size_t index = 0; index < fans.size() && index < published_.size(); ++index) {
        const SimFanState& state = fans[index];
        const int fan = state.index;
        if (!SimFile::update(dir_ / fanFile(fan, "input"), whole(state.actual) + "\n", error,
                             0444) ||
            !SimFile::update(dir_ / fanFile(fan, "min"), whole(state.min) + "\n", error, 0444) ||
            !SimFile::update(dir_ / fanFile(fan, "max"), whole(state.max) + "\n", error, 0444)) {
            return false;
        }
        // Rewritten only when the setpoint changed, so that a client's value waits for the next
        // update instead of being replaced unseen.
        const std::string target = whole(state.target) + "\n";
        if (target == published_[index]) continue;
        // A client's value that arrived since this update read the file waits for the next one
        // instead of being replaced unseen.
        const auto now = SysfsFile::read(dir_ / fanFile(fan, "target"), 64);
        if (now && *now != seen_[index] && *now != published_[index]) continue;
        const bool writable = fanControl_ && machine.value(fanKey(fan, "Md")).has_value();
        if (!SimFile::update(dir_ / fanFile(fan, "target"), target, error,
                             writable ? 0644 : 0444)) {
            return false;
        }
        published_[index] = target;
    }
    return true;
}
