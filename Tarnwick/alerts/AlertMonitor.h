#pragma once

// Decides, poll by poll, when the desktop should hear about the machine: a chip that stays above
// the red threshold (and its return to normal), a fan far below the speed the daemon asks of it,
// and fan control that stopped while installed. Conditions must last before they alert, and an
// alert that fired stays quiet for a cool-down.

#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "FanCore/Policy/Records.h"
#include "Tarnwick/model/AlertSettings.h"

// installFailed comes from the shell, not the monitor: a privileged script failed while no panel
// was open to say so.
enum class AlertKind { chipHot, chipNormal, fanFailure, controlStopped, installFailed };

struct Alert {
    AlertKind kind;
    QString title;
    QString body;
};

// What one poll saw.
struct AlertInput {
    std::optional<double> hottest;  // °C
    std::vector<Fan> fans{};
    bool daemonDriving = false;
    bool helperInstalled = false;
    bool helperRunning = false;
};

class AlertMonitor {
  public:
    static constexpr double hotThreshold = 95.0;   // °C, where the status item turns red
    static constexpr double hotFor = 30.0;         // seconds above it before the alert
    static constexpr double recoveryMargin = 5.0;  // °C below the threshold for "back to normal"
    static constexpr double fanShare = 0.5;        // a fan below this share of its target...
    static constexpr double fanFor = 10.0;         // ...for this many seconds may have failed
    static constexpr double stoppedFor = 10.0;     // seconds without a running daemon
    static constexpr double coolDown = 15 * 60.0;  // seconds before the same alert fires again

    explicit AlertMonitor(AlertSettings settings = {}) : settings_(settings) {}

    // Turning an alert off forgets its pending condition.
    void setSettings(const AlertSettings& settings);
    const AlertSettings& settings() const { return settings_; }

    // The alerts due after the poll `input` taken at `now` (seconds on a monotonic clock).
    std::vector<Alert> update(const AlertInput& input, double now);

  private:
    // One condition that must hold for a while; `raised` until it clears.
    struct Episode {
        std::optional<double> since;
        std::optional<double> lastAlert;
        bool raised = false;

        // Tracks the condition; true when it has now lasted `duration` and may alert.
        bool due(bool holds, double now, double duration);
    };

    void checkChip(const AlertInput& input, double now, std::vector<Alert>& out);
    void checkFans(const AlertInput& input, double now, std::vector<Alert>& out);
    void checkControl(const AlertInput& input, double now, std::vector<Alert>& out);

    AlertSettings settings_;
    Episode chip_;
    std::map<int64_t, Episode> fans_;
    Episode control_;
    bool sawRunning_ = false;
};
