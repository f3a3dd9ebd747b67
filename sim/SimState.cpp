#include "sim/SimState.h"

#include <chrono>
#include <nlohmann/json.hpp>

#include "CSMC/linux/Hwmon.h"

using nlohmann::json;

namespace SimState {
namespace {

json optionalNumber(const std::optional<double>& value) {
    return value ? json(*value) : json(nullptr);
}

std::string trimmed(std::string key) {
    while (!key.empty() && key.back() == ' ') key.pop_back();
    return key;
}

json controlJson(const SimControl& control) {
    json pins = json::object();
    for (const auto& [key, value] : control.pins) pins[trimmed(key)] = value;
    json failRead = json::array();
    json failWrite = json::array();
    for (const std::string& key : control.faults.read) failRead.push_back(trimmed(key));
    for (const std::string& key : control.faults.write) failWrite.push_back(trimmed(key));
    json takes = json::object();
    for (const auto& [index, rpm] : control.takes) takes[std::to_string(index)] = rpm;
    return {{"load", control.load},
            {"ambient", control.ambient},
            {"charger", control.charger},
            {"battery", control.battery},
            {"pin", pins},
            {"hid", control.hid},
            {"latencyMs", control.latencyMs},
            {"fail", {{"read", failRead}, {"write", failWrite}, {"io", control.faults.io}}},
            {"sleep", control.sleep},
            {"hwmon", {{"absent", control.hwmonAbsent}, {"moves", control.hwmonMoves}}},
            {"take", takes}};
}

}  // namespace

std::string render(const SimMachine& machine, const SimMacsmcHwmon* driver) {
    const SimExchangeCounts& counts = machine.counts();
    json fans = json::array();
    for (const SimFanState& fan : machine.fans()) {
        fans.push_back({{"index", fan.index},
                        {"actual", fan.actual},
                        {"target", fan.target},
                        {"mode", fan.mode},
                        {"min", fan.min},
                        {"max", fan.max},
                        {"manual", fan.manual}});
    }
    json temperatures = json::object();
    for (const auto& [key, value] : machine.temperatures()) temperatures[trimmed(key)] = value;
    json hid = json::object();
    for (const SimHidReading& reading : machine.hid()) {
        const std::string label =
            reading.label.empty() ? "temp" + std::to_string(reading.number) : reading.label;
        hid[Hwmon::productName(reading.chip, label)] = reading.value;
    }
    json writes = json::array();
    for (const SimWrite& write : machine.writes()) {
        writes.push_back({{"key", write.key},
                          {"value", optionalNumber(write.value)},
                          {"bytes", write.bytes},
                          {"result", write.result}});
    }
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    json state = {{"profile", machine.profile().source},
                  {"brand", machine.profile().brand},
                  {"time", machine.time()},
                  {"asleep", machine.sleepLeft()},
                  {"updated", std::chrono::duration<double>(now).count()},
                  {"exchanges",
                   {{"keyInfo", counts.keyInfo},
                    {"read", counts.read},
                    {"write", counts.write},
                    {"keyAtIndex", counts.keyAtIndex},
                    {"other", counts.other},
                    {"ioFailures", counts.ioFailures}}},
                  {"fans", fans},
                  {"Ftst", optionalNumber(machine.value("Ftst"))},
                  {"chip", machine.chipTemperature()},
                  {"temperatures", temperatures},
                  {"hid", hid},
                  {"charging", machine.charging()},
                  {"control", controlJson(machine.control())},
                  {"writes", writes}};
    if (driver != nullptr) {
        json driverWrites = json::array();
        for (const SimDriverWrite& write : driver->writes()) {
            driverWrites.push_back(
                {{"file", write.file}, {"text", write.text}, {"result", write.result}});
        }
        state["driver"] = {{"layout", "macsmc_hwmon"},
                           {"fan_control", driver->fanControl()},
                           {"writes", driverWrites}};
    }
    // Key texts come from the wire; never let an odd byte make the dump throw.
    return state.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace SimState
