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
    // Walks every SMC key once, keeps live temperature keys by group. A candidate whose first
    // value is whole is read again until it shows a fraction, for at most `pause` (0.3 s in
    // production; tests may shorten it); on a coarse source, or when every first value has a
    // fraction, nothing waits.
    explicit Sensors(std::chrono::milliseconds pause = std::chrono::milliseconds(300));

    // What a reading pass reads afresh: every group, or only the groups the fan decisions need
    // (cpu and gpu, with or without battery); the others keep the values of the last pass that
    // read everything.
    enum class Scope { everything, chipAndBattery, chip };

    // How a group's keys are read: every key, or (on a slow bus) a sweep: the key that read
    // hottest so far and the next of the others in turn, so that a group costs two reads
    // whatever its size and a key that overtakes the hottest is found within one round.
    enum class Keys { all, sweep };

    // One reading pass over the discovered keys and the HID services; never fails.
    Readings read(Scope scope = Scope::everything, Keys keys = Keys::all) const;

    // Group name ("cpu", "gpu", "ssd", "battery", "air", "wifi", "palm") to key codes in SMC order.
    std::map<std::string, std::vector<uint32_t>> groups;

    // The group a key name belongs to on a chip of `generation`, or none.
    static std::optional<std::string> groupFor(std::string_view key,
                                               std::optional<int64_t> generation);

    // Whether a candidate whose first read gave `first` (already inside 10..130 °C) is a live
    // sensor, given its second read: a fraction in either read shows a measured value. From a
    // `coarse` source any readable candidate is kept: a steady sensor there reads whole degrees
    // a quarter of the time, and a constant one is found out later (probationReads).
    static bool keepCandidate(double first, std::optional<double> second, bool coarse = false);

    // On a coarse source, a key whose value stays the same whole number for this many reads
    // after discovery is a placeholder, and is dropped.
    static constexpr int probationReads = 30;

    struct HidPair {
        std::string name;
        double value;
    };
    // HID temperatures strictly between 10 and 130 °C, in service order.
    static std::vector<HidPair> hid();

    // The current in-range values of each group, as one reading pass fetched them.
    struct GroupValues {
        std::vector<double> cpu = {};
        std::vector<double> gpu = {};
        std::vector<double> ssd = {};
        std::vector<double> battery = {};
        std::vector<double> wifi = {};
        std::vector<double> air = {};
        std::vector<double> palm = {};
    };
    // The source and cap rules: SMC group values first, HID pairs as the fallback, die from the
    // HID "tdie" sensors; a chip value above die + 25 °C is not believed.
    static Readings combine(const GroupValues& groups, const std::vector<HidPair>& pairs);

  private:
    std::vector<double> values(const std::string& group, Keys keys) const;
    // The key's value when it reads as a believable temperature.
    std::optional<double> value(uint32_t key) const;

    struct Sweep {
        std::optional<size_t> hottest;  // by position in the group
        size_t next = 0;                // the position the next sweep reads besides the hottest
    };
    mutable std::map<std::string, Sweep> sweeps_;

    // The groups of the last pass that read everything.
    mutable GroupValues lastComplete_;

    // Whether a key read `value` may still count: false once a key on probation proved constant.
    bool believe(uint32_t key, double value) const;

    struct Probation {
        double value = 0;
        int reads = 0;
    };
    // Coarse keys that read the same whole value twice at discovery; reading keeps them honest.
    mutable std::map<uint32_t, Probation> probation_;
    mutable std::vector<uint32_t> placeholders_;
};
