#pragma once

// The temperature sensors the macsmc_hwmon driver publishes on Apple silicon Macs, as the public
// devicetrees of those machines name them, and the role word each label needs so that the sensor
// rules find it. The driver takes its sensors and labels from the devicetree, so these labels are
// what a machine running an upstream or Asahi kernel shows.

#include <span>
#include <string_view>

namespace MacsmcLabels {

struct Sensor {
    std::string_view key;       // the SMC key the devicetree node reads
    std::string_view label;     // tempN_label
    std::string_view role;      // word put before the label, empty when the label already serves
    std::string_view machines;  // which machines' devicetrees carry the node
};

// Every known label, the current wording of each key first, earlier wordings after it.
std::span<const Sensor> temperatures();

// The role word for a macsmc_hwmon label; empty for a label that needs none or is unknown.
std::string_view role(std::string_view label);

}  // namespace MacsmcLabels
