#pragma once

// Publishes the simulated machine where the Linux readers look: hwmon temperature inputs, the
// battery and charger under power_supply, /proc/cpuinfo and, for Apple-silicon machines, the
// device-tree model. Every file is rewritten in place when its text changes, as a sysfs attribute
// keeps its inode: a reader may hold one open and read it again from offset 0. An hwmon device
// registers once its chip's `appearsAfter` has passed and unless the control holds it absent; each
// change of the control's `moves` registers every device again under a new number, as a reloaded
// driver does.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sim/SimMachine.h"

class SimSysfs {
  public:
    // `root` is the sandbox root the files go under; it must not be the real "/".
    // With `driverPublishes` the profile's "macsmc_hwmon" chip (the platform's temperature
    // services) is left out: the driver's own device stands in its place.
    explicit SimSysfs(std::filesystem::path root, bool driverPublishes = false)
        : root_(std::move(root)), driverPublishes_(driverPublishes) {}

    // Clears what an earlier run published (hwmon, power_supply, device tree), then writes the
    // files that never change; false with `error` on the first failure.
    bool prepare(const SimMachine& machine, std::string& error);

    // Rewrites the values that change (temperatures, charge, charger); false with `error` on the
    // first failure.
    bool update(const SimMachine& machine, std::string& error);

    // The /proc/cpuinfo text for a profile: x86 machines name their brand in "model name";
    // arm64 machines list no model name, as the kernel does there.
    static std::string cpuinfo(const SimProfile& profile);

    // The hwmon temperature in millidegrees as the file holds it; modelled values always carry a
    // fraction of a degree, pinned ones are kept exactly.
    static long long millidegrees(double celsius, bool pinned);

  private:
    bool published(const SimHwmonChip& chip) const;
    // The hwmon number chip `index` is registered under now, absent while it is not.
    std::optional<size_t> registration(const SimMachine& machine, size_t index) const;
    // Registers, moves or removes chip `index`'s device as `registration` says.
    bool reregister(const SimMachine& machine, size_t index, std::string& error);

    std::filesystem::path root_;
    bool driverPublishes_;
    std::vector<std::optional<size_t>> registered_;  // by chip: the hwmon number in use
};
