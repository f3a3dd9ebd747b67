#pragma once

#include <string>
#include <string_view>

#include "CSMC/hid.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Sensors/Chip.h"
#include "support/Files.h"
#include "support/TempRoot.h"

// A sandbox root for one test, with the sensor layers' cached state (paths, HID services, the
// chip) reset in and out, and helpers to lay out sysfs and procfs files inside it.
class SensorRoot : public support::TempRoot {
  public:
    SensorRoot() : TempRoot(reloadSensors, "tarnwick-sensors") {}

    // Writes `text` to `relative` under the root, creating the folders on the way.
    void write(std::string_view relative, std::string_view text) const {
        support::writeText(path() / relative, text);
    }

    // One hwmon temperature input: the chip's name file, the input in millidegrees and, when
    // `label` is given, its label file.
    void hwmon(int index, const std::string& chip, int temp, const std::string& millidegrees,
               const char* label = nullptr) const {
        const std::string folder = "sys/class/hwmon/hwmon" + std::to_string(index) + "/";
        const std::string prefix = folder + "temp" + std::to_string(temp);
        write(folder + "name", chip + "\n");
        write(prefix + "_input", millidegrees + "\n");
        if (label != nullptr) write(prefix + "_label", std::string(label) + "\n");
    }

    static void reloadSensors() {
        Paths::reload();
        hid_reset_services();
        Chip::reload();
    }
};
