#pragma once

// The simulated Mac: an SMC key store answering the 80-byte exchange, a thermal model that drives
// the temperatures and fans through the same keys the clients read and write, HID (hwmon)
// sensors, battery and charger, injected faults, and the record of exchanges and writes. One
// thread at a time; nothing here blocks or touches files.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "CSMC/smc.h"
#include "CSMC/transport.h"
#include "sim/SimControl.h"
#include "sim/SimProfile.h"

// Real controllers answer an index past the last key with this result byte; the other refusals use
// the shared SmcResult codes.
inline constexpr uint8_t kSimResultIndexRange = 0xB8;

struct SimFanState {
    int index = 0;
    double actual = 0;
    double target = 0;
    int mode = 0;
    double min = 0;
    double max = 0;
    bool manual = false;  // the fan follows its target (mode 1, and "Ftst" 1 where it exists)
};

struct SimWrite {
    std::string key;              // four characters
    std::optional<double> value;  // the written bytes decoded by the key's type, when they can be
    std::string bytes;            // hex
    uint8_t result = 0;
};

struct SimExchangeCounts {
    uint64_t keyInfo = 0;     // command 9
    uint64_t read = 0;        // command 5
    uint64_t write = 0;       // command 6
    uint64_t keyAtIndex = 0;  // command 8
    uint64_t other = 0;       // any other command byte
    uint64_t ioFailures = 0;  // exchanges refused below the SMC
};

struct SimHidReading {
    std::string chip;     // hwmon name
    std::string label;    // hwmon label, "" when the sensor has none
    int number = 0;       // N of tempN_input, from 1
    double value = 0;     // °C
    bool pinned = false;  // held by control ("hid"), not modelled
};

class SimMachine {
  public:
    static constexpr size_t kWriteLogSize = 256;

    explicit SimMachine(SimProfile profile);
    // A built-in profile by name, or a profile file; throws std::invalid_argument with the
    // loader's message when it cannot be loaded.
    explicit SimMachine(std::string_view nameOrFile);

    // One SMC exchange: 0 with `reply` filled (its result byte is the SMC's verdict), or
    // SMC_STATUS_IO_ERROR with `reply` zeroed while the "io" fault is set.
    int32_t exchange(const smc_param& request, smc_param& reply);

    // Runs the thermal and fan model for `seconds` of simulated time (negative counts as 0).
    void advance(double seconds);

    // The control in force; setControl validates pins and HID names against this machine and
    // returns the problem (changing nothing) or an empty text.
    const SimControl& control() const { return control_; }
    std::string setControl(const SimControl& control);
    void setLoad(double load);        // clamped to 0..1
    void setAmbient(double celsius);  // °C
    void setCharger(bool online);
    void setBattery(double percent);  // clamped to 0..100
    void setFaults(const SimFaults& faults);
    // Holds `key` at `value` (the key's units) until unpinned; false for an unknown key or a
    // type that holds no number.
    bool pin(std::string_view key, double value);
    void unpin(std::string_view key);

    // A key's decoded value, none when it does not exist or holds no number; ignores faults.
    std::optional<double> value(std::string_view key) const;
    // A key's raw bytes, none when it does not exist.
    std::optional<std::vector<uint8_t>> bytes(std::string_view key) const;
    // Sets a key's value directly (no writability check, no log); false as for pin().
    bool setValue(std::string_view key, double value);

    std::vector<SimFanState> fans() const;
    const std::deque<SimWrite>& writes() const { return writes_; }
    const SimExchangeCounts& counts() const { return counts_; }
    std::vector<SimHidReading> hid() const;
    // Every temperature key ('T' first) that holds a number, in key order, °C.
    std::vector<std::pair<std::string, double>> temperatures() const;

    double time() const { return time_; }             // simulated seconds since start
    double chipTemperature() const { return chip_; }  // °C
    bool charging() const;                            // charger online and battery not full
    const SimProfile& profile() const { return profile_; }

  private:
    // Positions in profile_.keys (kept as positions so that copies of a machine stay sound).
    static constexpr size_t kNone = SIZE_MAX;
    struct FanKeys {
        int index = 0;
        size_t actual = kNone;
        size_t min = kNone;
        size_t max = kNone;
        size_t target = kNone;
        size_t mode = kNone;
    };

    SimKey* find(uint32_t code);
    const SimKey* find(uint32_t code) const;
    const SimKey* find(std::string_view key) const;
    size_t position(std::string_view key) const;
    std::optional<double> decoded(size_t position) const;
    bool pinned(const SimKey& key) const;
    void applyPins();
    // Keys the model does not drive would keep a removed pin's value for ever: their own value
    // comes back when the pin goes.
    void keepUnpinned(const SimControl& next);
    struct Goals {
        double chip = 0;  // where each node would settle under the present load and fans, °C
        double ssd = 0;
        double battery = 0;
    };
    Goals goals() const;
    double fanShare() const;  // mean of actual / max over the fans, 0..1
    double fanGoal(const FanKeys& fan);
    void settle();
    void step(double dt);
    double nodeValue(SimNode node) const;
    double sensorValue(const SimFollow& follow, uint32_t seed) const;
    static void storeTemperature(SimKey& key, double celsius);
    void store(size_t position, double value);
    bool manual(const FanKeys& fan) const;
    void log(const SimKey* key, const smc_param& request, uint8_t result);
    std::string checkControl(const SimControl& control) const;

    SimProfile profile_;
    std::unordered_map<uint32_t, size_t> byCode_;
    std::vector<uint32_t> index_;  // indexed keys in ascending code order
    std::vector<FanKeys> fanKeys_;
    size_t ftst_ = kNone;
    SimControl control_;
    double time_ = 0;
    double chip_ = 0;
    double ssd_ = 0;
    double battery_ = 0;
    std::map<std::string, std::vector<uint8_t>> beforePins_;  // key -> bytes before its pin
    std::deque<SimWrite> writes_;
    SimExchangeCounts counts_;
};
