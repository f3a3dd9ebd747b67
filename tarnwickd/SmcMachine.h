#pragma once

// The real machine: temperatures, fans and power through the shared library, the settings and
// status files at their fixed paths (under the sandbox root when one is set).

#include <chrono>
#include <optional>

#include "FanCore/Sensors/Sensors.h"
#include "tarnwickd/FileChange.h"
#include "tarnwickd/KnownFans.h"
#include "tarnwickd/Machine.h"
#include "tarnwickd/ReadPace.h"

class SmcMachine final : public Machine {
  public:
    // Discovers the temperature sources on the first readings(), blocking for `discoveryPause`
    // (tests shorten it), so that the fans can be handed back before that.
    explicit SmcMachine(std::chrono::milliseconds discoveryPause = std::chrono::milliseconds(300));

    Readings readings() override;
    PowerState power() override;
    Fans::Scan fans(bool driving) override;
    bool setManual(double rpm, const std::vector<Fan>& fans) override;
    std::vector<int64_t> handBack(const std::vector<int64_t>& indices, bool retry) override;
    std::vector<int64_t> knownFans() override;
    std::string controlBlocked() override;
    bool stopping() override;
    Config loadConfig(std::string& problem) override;
    void saveStatus(const Status& status) override;
    void publish(const Measurements& measurements) override;
    void removeStatus() override;

  private:
    std::chrono::milliseconds discoveryPause_;
    std::optional<Sensors> sensors_;
    ReadPace pace_;
    KnownFans known_;
    uint64_t exchangesBefore_ = 0;
    uint64_t nanosecondsBefore_ = 0;
    bool complete_ = true;
    bool countRead_ = false;
    FileChange settings_;  // the settings file is read again only when it changed
    Config settingsRead_;  // also whether the battery temperature may drive the fans
    std::string settingsProblem_;
    WriteOnChange statusWrites_;
    std::vector<Fan> fans_;  // as the last scan that answered left them
};
