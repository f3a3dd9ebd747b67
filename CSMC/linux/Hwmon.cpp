#include "CSMC/linux/Hwmon.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <tuple>

#include "CSMC/linux/MacsmcLabels.h"
#include "CSMC/linux/SysfsFile.h"

namespace Hwmon {
namespace {

// The decimal number that makes up all of `text`; absent for an empty text, signs or overflow.
std::optional<unsigned long> wholeNumber(std::string_view text) {
    if (text.empty()) return std::nullopt;
    unsigned long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// `name` is `prefix` followed by a decimal number and `suffix`; returns the number.
std::optional<unsigned long> numbered(std::string_view name, std::string_view prefix,
                                      std::string_view suffix) {
    if (name.size() <= prefix.size() + suffix.size()) return std::nullopt;
    if (!name.starts_with(prefix) || !name.ends_with(suffix)) return std::nullopt;
    name.remove_prefix(prefix.size());
    name.remove_suffix(suffix.size());
    return wholeNumber(name);
}

bool labelled(std::string_view label, std::string_view prefix) {
    if (!label.starts_with(prefix)) return false;
    label.remove_prefix(prefix.size());
    if (label.starts_with(' ')) label.remove_prefix(1);
    return wholeNumber(label).has_value();
}

bool isAmdCpu(std::string_view chip) { return chip == "k10temp" || chip == "zenpower"; }

bool isDie(std::string_view chip, std::string_view label) {
    if (chip == "coretemp") return labelled(label, "Package id ");
    return isAmdCpu(chip) && (label == "Tdie" || label == "Tctl");
}

bool isCore(std::string_view chip, std::string_view label) {
    if (chip == "coretemp") return labelled(label, "Core ");
    return isAmdCpu(chip) && labelled(label, "Tccd");
}

bool isGpu(std::string_view chip) {
    return chip == "amdgpu" || chip == "radeon" || chip == "nouveau" || chip == "i915";
}

bool isStorage(std::string_view chip) { return chip == "nvme" || chip == "drivetemp"; }

// Batteries register their hwmon device under the power supply's name.
bool isBattery(std::string_view chip) {
    return chip.starts_with("BAT") || chip == "macsmc_battery";
}

void addServices(const std::filesystem::path& folder, unsigned long hwmon,
                 std::vector<Service>& out) {
    const auto chipText = SysfsFile::read(folder / "name");
    if (!chipText) return;
    const std::string chip(SysfsFile::trim(*chipText));
    if (chip.empty()) return;

    for (const std::filesystem::path& file : SysfsFile::entries(folder)) {
        const std::string fileName = file.filename().string();
        const auto temp = numbered(fileName, "temp", "_input");
        if (!temp) continue;
        std::string label;
        if (auto text = SysfsFile::read(folder / ("temp" + std::to_string(*temp) + "_label"))) {
            label = SysfsFile::trim(*text);
        }
        if (label.empty()) label = "temp" + std::to_string(*temp);
        out.push_back({hwmon, *temp, productName(chip, label), file});
    }
}

}  // namespace

std::vector<Service> services(const std::filesystem::path& root) {
    std::vector<Service> out;
    const std::filesystem::path classFolder = root / "sys/class/hwmon";
    for (const std::filesystem::path& folder : SysfsFile::entries(classFolder)) {
        const auto hwmon = numbered(folder.filename().string(), "hwmon", "");
        if (!hwmon) continue;
        addServices(folder, *hwmon, out);
    }
    // Directory order is whatever the file system returns; the service order decides which
    // sensors fit the caller's slots, so it must not change from run to run.
    std::sort(out.begin(), out.end(), [](const Service& a, const Service& b) {
        return std::tie(a.hwmon, a.temp, a.input) < std::tie(b.hwmon, b.temp, b.input);
    });
    return out;
}

std::string layout(const std::filesystem::path& root) {
    std::vector<std::string> folders;
    for (const std::filesystem::path& folder : SysfsFile::entries(root / "sys/class/hwmon")) {
        const std::string name = folder.filename().string();
        if (!numbered(name, "hwmon", "")) continue;
        folders.push_back(name + ":" + std::to_string(SysfsFile::entries(folder).size()));
    }
    std::sort(folders.begin(), folders.end());
    std::string out;
    for (const std::string& folder : folders) out.append(folder).append(" ");
    return out;
}

bool hasEveryRole(const std::vector<Service>& services) {
    const auto has = [&](std::string_view word) {
        return std::any_of(services.begin(), services.end(), [word](const Service& s) {
            return s.product.find(word) != std::string::npos;
        });
    };
    // Apple silicon names its cluster sensors "pACC"/"eACC" instead of "CPU".
    return (has("CPU") || has("ACC")) && has("tdie") && has("NAND");
}

std::string productName(std::string_view chip, std::string_view label) {
    std::string base;
    base.append(chip).append(" ").append(label);
    if (isDie(chip, label)) return "CPU tdie " + base;
    if (isCore(chip, label)) return "CPU " + base;
    if (isGpu(chip)) return "GPU " + base;
    if (isStorage(chip)) return "NAND " + base;
    if (isBattery(chip)) return "battery " + base;
    if (chip == "macsmc_hwmon") {
        const std::string_view role = MacsmcLabels::role(label);
        if (!role.empty()) return std::string(role) + " " + base;
    }
    return base;
}

std::optional<double> parseMillidegrees(std::string_view text) {
    const std::optional<long long> milli = SysfsFile::parseInteger(text);
    if (!milli) return std::nullopt;
    return static_cast<double>(*milli) / 1000.0;
}

std::optional<double> celsius(const Service& service) {
    const auto text = SysfsFile::read(service.input, 64);
    if (!text) return std::nullopt;
    return parseMillidegrees(*text);
}

}  // namespace Hwmon
