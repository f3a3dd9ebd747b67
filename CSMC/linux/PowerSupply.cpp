#include "CSMC/linux/PowerSupply.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <system_error>

#include "CSMC/linux/KeptFiles.h"
#include "CSMC/linux/SysfsFile.h"

namespace PowerSupply {
namespace {

// The supplies' files are read on every pass of the daemon and every poll of the application.
KeptFiles& keptFiles() {
    static KeptFiles files;
    return files;
}

std::string attribute(const std::filesystem::path& folder, const char* name) {
    const auto text = keptFiles().read(folder / name);
    return text ? std::string(SysfsFile::trim(*text)) : std::string();
}

std::optional<int64_t> integer(std::string_view text) {
    if (text.empty()) return std::nullopt;
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::vector<Source> sources(const std::filesystem::path& root) {
    struct Supply {
        std::string name;
        std::filesystem::path folder;
        std::string type;
    };
    std::vector<Supply> supplies;
    std::error_code error;
    std::filesystem::directory_iterator folders(root / "sys/class/power_supply", error);
    if (error) return {};
    for (const auto& entry : folders) {
        supplies.push_back(
            {entry.path().filename().string(), entry.path(), attribute(entry.path(), "type")});
    }
    std::sort(supplies.begin(), supplies.end(),
              [](const Supply& a, const Supply& b) { return a.name < b.name; });

    // Mains, USB-C ports and docks all count as the adapter; only batteries carry a charge.
    bool acPower = false;
    for (const Supply& supply : supplies) {
        if (supply.type == "Battery") continue;
        const auto online = integer(attribute(supply.folder, "online"));
        if (online && *online > 0) acPower = true;
    }

    std::vector<Source> out;
    for (const Supply& supply : supplies) {
        if (supply.type != "Battery") continue;
        Source source;
        source.name = supply.name;
        // Keyboards, mice and pens report their batteries here too, with scope Device.
        source.internalBattery = attribute(supply.folder, "scope") != "Device";
        source.acPower = acPower;
        source.charging = attribute(supply.folder, "status") == "Charging";
        source.capacity = integer(attribute(supply.folder, "capacity"));
        out.push_back(std::move(source));
    }
    return out;
}

}  // namespace PowerSupply
