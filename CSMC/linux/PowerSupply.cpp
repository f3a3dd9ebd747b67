#include "CSMC/PowerSupply.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <string_view>

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

struct Supply {
    std::string name;
    std::filesystem::path folder;
    std::string type;
    std::string scope;  // a supply's type and scope never change: read once, with the listing
};

// The supplies and their types, listed again when the folder's modification time changes (a
// plain folder's does when a supply comes or goes) and at least every 10 s (sysfs folders keep
// theirs).
const std::vector<Supply>& supplies(const std::filesystem::path& root) {
    static constexpr std::chrono::seconds kRescan{10};
    struct Listing {
        std::filesystem::path root;
        std::optional<timespec> modified;
        std::chrono::steady_clock::time_point listed;
        std::vector<Supply> supplies;
    };
    static std::optional<Listing> listing;
    const std::filesystem::path folder = root / "sys/class/power_supply";
    struct stat info {};
    const std::optional<timespec> modified =
        ::stat(folder.c_str(), &info) == 0 ? std::optional(info.st_mtim) : std::nullopt;
    const auto now = std::chrono::steady_clock::now();
    const auto same = [](const std::optional<timespec>& a, const std::optional<timespec>& b) {
        return a.has_value() == b.has_value() &&
               (!a || (a->tv_sec == b->tv_sec && a->tv_nsec == b->tv_nsec));
    };
    if (listing && listing->root == root && same(listing->modified, modified) &&
        now - listing->listed < kRescan) {
        return listing->supplies;
    }
    listing = Listing{root, modified, now, {}};
    for (const std::filesystem::path& supply : SysfsFile::entries(folder)) {
        listing->supplies.push_back({supply.filename().string(), supply, attribute(supply, "type"),
                                     attribute(supply, "scope")});
    }
    std::sort(listing->supplies.begin(), listing->supplies.end(),
              [](const Supply& a, const Supply& b) { return a.name < b.name; });
    return listing->supplies;
}

}  // namespace

std::vector<Source> sources(const std::filesystem::path& root) {
    const std::vector<Supply>& supplies = PowerSupply::supplies(root);

    // Mains, USB-C ports and docks all count as the adapter; only batteries carry a charge.
    bool acPower = false;
    for (const Supply& supply : supplies) {
        if (supply.type == "Battery") continue;
        const auto online = SysfsFile::parseInteger(attribute(supply.folder, "online"));
        if (online && *online > 0) acPower = true;
    }

    std::vector<Source> out;
    for (const Supply& supply : supplies) {
        if (supply.type != "Battery") continue;
        Source source;
        source.name = supply.name;
        // Keyboards, mice and pens report their batteries here too, with scope Device.
        source.internalBattery = supply.scope != "Device";
        source.acPower = acPower;
        source.charging = attribute(supply.folder, "status") == "Charging";
        source.capacity = SysfsFile::parseInteger(attribute(supply.folder, "capacity"));
        out.push_back(std::move(source));
    }
    return out;
}

}  // namespace PowerSupply
