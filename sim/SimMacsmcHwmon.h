#pragma once

// The Apple-silicon kernel driver macsmc_hwmon over the simulated machine: one hwmon device with
// the temperatures its devicetree names (tempN_input, tempN_label) and the fans (fanN_input,
// _label, _min, _max, _target), and the module option at sys/module/macsmc_hwmon/parameters.
// Clients write fanN_target as they would to the kernel; on every update the driver's rules
// apply: the file is writable only with the option fan_control; a speed within [min, max] puts
// the fan in manual mode and sets its target, 0 hands it back, anything else is refused (EINVAL).
// A regular file cannot refuse a write, so a refused value is put back and recorded instead.

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/SimMachine.h"
#include "sim/SimSmcFront.h"

// One value a client left in a fanN_target file and the driver's answer ("ok", "EINVAL",
// "EOPNOTSUPP").
struct SimDriverWrite {
    std::string file;
    std::string text;
    std::string result;
};

class SimMacsmcHwmon : public SimSmcFront {
  public:
    static constexpr size_t kWriteLogSize = 64;

    // Writes every file, the device numbered after the profile's own hwmon chips; the machine's
    // "Ftst" (which the driver never writes) is held at 1, as the firmware the driver was written
    // for needs no unlock. Null with `error` on failure.
    static std::unique_ptr<SimMacsmcHwmon> publish(const std::filesystem::path& root,
                                                   SimMachine& machine, bool fanControl,
                                                   std::string& error);

    // Applies what clients wrote to the target files, then republishes the values.
    bool update(std::string& error) override;
    bool serve(int timeoutMs, int wakeFd) override;
    std::string where() const override { return dir_.string(); }

    bool fanControl() const { return fanControl_; }
    const std::deque<SimDriverWrite>& writes() const { return writes_; }

  private:
    SimMacsmcHwmon(const std::filesystem::path& root, SimMachine& machine, bool fanControl);
    bool prepare(std::string& error);
    void apply(int fan, const std::string& text);
    bool publishValues(std::string& error);

    SimMachine& machine_;

    std::filesystem::path dir_;
    std::filesystem::path module_;
    bool fanControl_;
    std::vector<std::string> temperatureKeys_;
    std::vector<std::string> labels_;
    std::vector<std::string> published_;  // per fan: the target text the driver last showed
    std::vector<std::string> seen_;       // per fan: the target text this update found
    std::vector<bool> manual_;            // per fan: the driver's own idea of the mode
    std::deque<SimDriverWrite> writes_;
};
