#pragma once

// The kernel's hwmon temperature inputs, standing in for the platform's HID temperature services.
// Each temp<N>_input of each hwmon<M> folder is one service; its product name carries role words
// that the sensor rules look for ("CPU", "tdie", "GPU", "NAND", "battery").

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Hwmon {

struct Service {
    unsigned long hwmon = 0;  // M of hwmon<M>
    unsigned long temp = 0;   // N of temp<N>_input
    std::string product;      // role words, chip name and label
    std::filesystem::path input;
};

// Every temperature input under `root`/sys/class/hwmon, ordered by hwmon number, then temp number
// (both numerically). A folder without a readable "name" file offers no services. Empty when the
// class folder cannot be listed.
std::vector<Service> services(const std::filesystem::path& root);

// What a later look compares to tell whether devices came, went or grew inputs: every hwmon<M>
// folder's name and the number of its entries. Lists folders only; reads no attribute.
std::string layout(const std::filesystem::path& root);

// Whether `services` include every role a Mac's drivers publish once loaded: the chip ("CPU", or
// "ACC" on Apple silicon), its die ("tdie") and the SSD ("NAND").
bool hasEveryRole(const std::vector<Service>& services);

// The product name for a chip and label: role words first, then "<chip> <label>".
std::string productName(std::string_view chip, std::string_view label);

// The current temperature of a service in degrees Celsius (the file holds millidegrees); absent
// when the file cannot be read or does not hold a whole number.
std::optional<double> celsius(const Service& service);

// Millidegree text (an integer, optionally signed, surrounded by white space) to degrees Celsius.
std::optional<double> parseMillidegrees(std::string_view text);

}  // namespace Hwmon
