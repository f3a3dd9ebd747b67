#pragma once

// The real machine: temperatures, fans and power through the shared library, the settings and
// status files at their fixed paths (under the sandbox root when one is set).

#include <chrono>

#include "FanCore/Sensors/Sensors.h"
#include "tarnwickd/Machine.h"
#include "tarnwickd/ReadPace.h"

class SmcMachine final : public Machine {
  public:
    // Discovers the temperature sources, blocking for `discoveryPause` (tests shorten it).
    explicit SmcMachine(std::chrono::milliseconds discoveryPause = std::chrono::milliseconds(300));

    Readings readings() override;
    PowerState power() override;
    std::optional<std::vector<Fan>> fans() override;
    bool setManual(double rpm, const std::vector<Fan>& fans) override;
    bool setAuto() override;
    std::string controlBlocked() override;
    Config loadConfig() override;
    void saveStatus(const Status& status) override;
    void publish(const Measurements& measurements) override;
    void removeStatus() override;

    // Whether the current pass reads everything (see ReadPace).
    bool completePass() const { return complete_; }

  private:
    Sensors sensors_;
    ReadPace pace_;
    uint64_t exchangesBefore_ = 0;
    uint64_t nanosecondsBefore_ = 0;
    bool complete_ = true;
    bool batteryRule_ = false;  // the settings can let the battery temperature drive the fans
    std::vector<Fan> fans_;
};
