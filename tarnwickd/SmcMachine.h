#pragma once

// The real machine: temperatures, fans and power through the shared library, the settings and
// status files at their fixed paths (under the sandbox root when one is set).

#include <chrono>

#include "FanCore/Sensors/Sensors.h"
#include "tarnwickd/Machine.h"

class SmcMachine final : public Machine {
  public:
    // Discovers the temperature sources, blocking for `discoveryPause` (tests shorten it).
    explicit SmcMachine(std::chrono::milliseconds discoveryPause = std::chrono::milliseconds(300));

    Readings readings() override;
    PowerState power() override;
    std::optional<std::vector<Fan>> fans() override;
    bool setManual(double rpm) override;
    bool setAuto() override;
    std::string controlBlocked() override;
    Config loadConfig() override;
    void saveStatus(const Status& status) override;
    void removeStatus() override;

  private:
    Sensors sensors_;
};
