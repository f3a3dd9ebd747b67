#include "CSMC/linux/MacsmcLabels.h"

#include <algorithm>
#include <array>

namespace MacsmcLabels {
namespace {

// From arch/arm64/boot/dts/apple/hwmon-common.dtsi, included for every machine with the driver
// (M1 t8103, M2 t8112, M1 Pro/Max/Ultra t600x, M2 Pro/Max/Ultra t602x, M3 Pro/Max t603x), and
// hwmon-laptop.dtsi, included by the laptops (MacBook Air j313 and j413, MacBook Pro 13" j293 and
// j493, 14" and 16" j314/j316 and j514/j516); hwmon-mac-mini.dtsi gives the Mac minis (j274,
// j473) the Wi-Fi sensor too. No devicetree names a CPU, GPU or die sensor, so on these machines
// the chip temperature is absent unless a devicetree adds a node labelled with "CPU", "GPU" or
// "tdie", which the sensor rules then find without a row here.
constexpr std::array<Sensor, 7> kSensors = {{
    {"TH0x", "NAND Flash Temperature", "", "all"},  // its label holds "NAND": the SSD
    {"TB0T", "Battery Hotspot", "battery", "laptops"},
    {"TCHP", "Charge Regulator Temp", "", "laptops"},  // no group, like the SMC key
    {"TW0P", "WiFi/BT Module Temp", "", "laptops, Mac minis"},
    // The wording of the series as first posted, still found on kernels built from it.
    {"TB0T", "Battery Hotspot Temperature", "battery", "laptops"},
    {"TCHP", "Charge Regulator Temperature", "", "laptops"},
    {"TW0P", "WiFi/BT Module Temperature", "", "laptops, Mac minis"},
}};

}  // namespace

std::span<const Sensor> temperatures() { return kSensors; }

std::string_view role(std::string_view label) {
    const auto it = std::find_if(kSensors.begin(), kSensors.end(),
                                 [label](const Sensor& sensor) { return sensor.label == label; });
    return it == kSensors.end() ? std::string_view() : it->role;
}

}  // namespace MacsmcLabels
