#pragma once

// The machine's temperature sources: SMC temperature keys discovered once, and the HID services.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FanCore/Policy/Records.h"

class Sensors {
public:
    // Walks every SMC key once, keeps live temperature keys by group; blocks for `pause` between
    // the two reads of each candidate (0.3 s in production; tests may shorten it).
    explicit Sensors(std::chrono::milliseconds pause = std::chrono::milliseconds(300));

    // One reading pass over the discovered keys and the HID services; never fails.
    Readings read() const;

    // Group name ("cpu", "gpu", "ssd", "battery", "air", "wifi", "palm") to key codes in SMC order.
    std::map<std::string, std::vector<uint32_t>> groups;

    // The group a key name belongs to on a chip of `generation`, or none.
    static std::optional<std::string> groupFor(std::string_view key,
                                               std::optional<int64_t> generation);

    struct HidPair {
        std::string name;
        double value;
    };
    // HID temperatures strictly between 10 and 130 °C, in service order.
    static std::vector<HidPair> hid();

private:
    std::vector<double> values(const std::string& group) const;
};
