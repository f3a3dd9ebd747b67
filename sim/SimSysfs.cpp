#include "sim/SimSysfs.h"

#include <cmath>
#include <system_error>

#include "sim/SimFile.h"

namespace {

bool makeFolder(const std::filesystem::path& folder, std::string& error) {
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code) error = folder.string() + ": " + code.message();
    return !code;
}

bool clear(const std::filesystem::path& path, std::string& error) {
    std::error_code code;
    std::filesystem::remove_all(path, code);
    if (code) error = path.string() + ": " + code.message();
    return !code;
}

std::filesystem::path hwmonFolder(const std::filesystem::path& root, size_t chip) {
    return root / "sys/class/hwmon" / ("hwmon" + std::to_string(chip));
}

std::string batteryStatus(const SimMachine& machine) {
    if (machine.charging()) return "Charging";
    if (machine.control().charger) return "Full";
    return "Discharging";
}

}  // namespace

std::string SimSysfs::cpuinfo(const SimProfile& profile) {
    std::string text;
    for (int cpu = 0; cpu < profile.cpus; ++cpu) {
        const std::string n = std::to_string(cpu);
        if (profile.arch == "x86_64") {
            text += "processor\t: " + n + "\nvendor_id\t: GenuineIntel\ncpu family\t: 6\n" +
                    "model\t\t: 158\nmodel name\t: " + profile.brand +
                    "\nstepping\t: 13\ncpu MHz\t\t: 2300.000\ncache size\t: 16384 KB\n" +
                    "physical id\t: 0\ncore id\t\t: " + std::to_string(cpu / 2) +
                    "\ncpu cores\t: " + std::to_string((profile.cpus + 1) / 2) +
                    "\nflags\t\t: fpu vme de pse tsc msr pae mce cx8 apic sep mtrr sse sse2\n\n";
        } else {
            text += "processor\t: " + n +
                    "\nBogoMIPS\t: 48.00\nFeatures\t: fp asimd evtstrm aes pmull sha1 sha2 crc32 "
                    "atomics fphp asimdhp cpuid asimdrdm jscvt fcma lrcpc dcpop sha3 asimddp "
                    "sha512 asimdfhm dit uscat ilrcpc flagm ssbs sb paca pacg dcpodp flagm2 frint\n"
                    "CPU implementer\t: 0x61\nCPU architecture: 8\nCPU variant\t: 0x2\n"
                    "CPU part\t: 0x03" +
                    std::string(cpu < profile.cpus / 2 ? "8" : "9") + "\nCPU revision\t: 1\n\n";
        }
    }
    return text;
}

long long SimSysfs::millidegrees(double celsius, bool pinned) {
    auto milli = static_cast<long long>(std::llround(celsius * 1000.0));
    // A modelled reading that lands on a whole degree would look like a constant.
    if (!pinned && milli % 1000 == 0) milli += 63;
    return milli;
}

bool SimSysfs::published(const SimHwmonChip& chip) const {
    return !driverPublishes_ || chip.name != "macsmc_hwmon";
}

std::optional<size_t> SimSysfs::registration(const SimMachine& machine, size_t index) const {
    const SimHwmonChip& chip = machine.profile().hwmon[index];
    if (!published(chip) || machine.time() < chip.appearsAfter ||
        machine.control().hwmonAbsent.contains(chip.name)) {
        return std::nullopt;
    }
    // Numbers after a move skip the one the driver layout's own device holds (the chip count).
    const size_t moves = static_cast<size_t>(machine.control().hwmonMoves);
    return index + moves * (machine.profile().hwmon.size() + 1);
}

bool SimSysfs::reregister(const SimMachine& machine, size_t index, std::string& error) {
    const std::optional<size_t> wanted = registration(machine, index);
    if (wanted == registered_[index]) return true;
    if (registered_[index] && !clear(hwmonFolder(root_, *registered_[index]), error)) return false;
    registered_[index].reset();
    if (!wanted) return true;
    const SimHwmonChip& chip = machine.profile().hwmon[index];
    const std::filesystem::path folder = hwmonFolder(root_, *wanted);
    if (!makeFolder(folder, error) || !SimFile::update(folder / "name", chip.name + "\n", error)) {
        return false;
    }
    for (size_t s = 0; s < chip.sensors.size(); ++s) {
        if (chip.sensors[s].label.empty()) continue;
        const std::string file = "temp" + std::to_string(s + 1) + "_label";
        if (!SimFile::update(folder / file, chip.sensors[s].label + "\n", error)) return false;
    }
    registered_[index] = wanted;
    return true;
}

bool SimSysfs::prepare(const SimMachine& machine, std::string& error) {
    const SimProfile& profile = machine.profile();
    // A driver folder left by a run in another layout would be found once the socket is gone.
    for (const char* owned :
         {"sys/class/hwmon", "sys/class/power_supply", "sys/firmware/devicetree",
          "proc/device-tree", "sys/devices/platform/applesmc.768", "sys/module"}) {
        if (!clear(root_ / owned, error)) return false;
    }
    if (!makeFolder(root_ / "proc", error) || !makeFolder(root_ / "sys/class/hwmon", error) ||
        !makeFolder(root_ / "sys/class/power_supply", error)) {
        return false;
    }
    if (!SimFile::update(root_ / "proc/cpuinfo", cpuinfo(profile), error)) return false;
    if (!profile.model.empty()) {
        const std::filesystem::path base = root_ / "sys/firmware/devicetree/base";
        if (!makeFolder(base, error)) return false;
        // The property is a NUL-terminated string, as the kernel exposes it.
        if (!SimFile::update(base / "model", profile.model + std::string(1, '\0'), error)) {
            return false;
        }
        std::error_code code;
        std::filesystem::create_directory_symlink("../sys/firmware/devicetree/base",
                                                  root_ / "proc/device-tree", code);
        if (code) {
            error = (root_ / "proc/device-tree").string() + ": " + code.message();
            return false;
        }
    }
    registered_.assign(profile.hwmon.size(), std::nullopt);
    if (profile.battery) {
        const std::filesystem::path battery =
            root_ / "sys/class/power_supply" / profile.battery->name;
        const std::filesystem::path charger =
            root_ / "sys/class/power_supply" / profile.battery->charger;
        if (!makeFolder(battery, error) || !makeFolder(charger, error) ||
            !SimFile::update(battery / "type", "Battery\n", error) ||
            !SimFile::update(battery / "present", "1\n", error) ||
            !SimFile::update(battery / "technology", "Li-poly\n", error) ||
            !SimFile::update(charger / "type", "Mains\n", error)) {
            return false;
        }
    }
    return update(machine, error);
}

bool SimSysfs::update(const SimMachine& machine, std::string& error) {
    const SimProfile& profile = machine.profile();
    const std::vector<SimHidReading> readings = machine.hid();
    size_t next = 0;
    for (size_t chip = 0; chip < profile.hwmon.size(); ++chip) {
        const size_t first = next;
        next += profile.hwmon[chip].sensors.size();
        if (!reregister(machine, chip, error)) return false;
        if (!registered_[chip]) continue;
        const std::filesystem::path folder = hwmonFolder(root_, *registered_[chip]);
        for (size_t s = first; s < next; ++s) {
            const SimHidReading& reading = readings[s];
            const std::string file = "temp" + std::to_string(reading.number) + "_input";
            const std::string text =
                std::to_string(millidegrees(reading.value, reading.pinned)) + "\n";
            if (!SimFile::update(folder / file, text, error)) return false;
        }
    }
    if (profile.battery) {
        const std::filesystem::path battery =
            root_ / "sys/class/power_supply" / profile.battery->name;
        const std::filesystem::path charger =
            root_ / "sys/class/power_supply" / profile.battery->charger;
        const auto percent = std::lround(machine.control().battery);
        if (!SimFile::update(battery / "capacity", std::to_string(percent) + "\n", error) ||
            !SimFile::update(battery / "status", batteryStatus(machine) + "\n", error) ||
            !SimFile::update(charger / "online", machine.control().charger ? "1\n" : "0\n",
                             error)) {
            return false;
        }
    }
    return true;
}
