#pragma once

// The application's one state object: polls the machine every two seconds, keeps the user's fan
// settings and menu-bar style, and derives every text the panel shows about fan control.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "FanCore/Policy/Config.h"
#include "FanCore/Policy/Records.h"
#include "FanCore/Policy/Status.h"
#include "FanCore/Sensors/ReadingsSmoother.h"
#include "Tarnwick/model/AlertSettings.h"
#include "Tarnwick/model/FanControlState.h"
#include "Tarnwick/model/Heat.h"
#include "Tarnwick/model/History.h"
#include "Tarnwick/model/InstalledDaemon.h"
#include "Tarnwick/model/Installer.h"
#include "Tarnwick/model/MenuBarStyle.h"

class Sensors;

// Seams for tests and the shell; every member left empty takes the production default.
struct ModelOptions {
    std::optional<QString> demo;       // "warm" or "hot": fixed temperatures, fans standing
    bool noFans = false;               // the machine is shown without fans
    std::optional<QString> bundleDir;  // ProgramPaths::bundleDir()
    Installer::Runner runner;          // Installer::start
    std::function<double()> now;       // wall clock, seconds since 1970
    QString userDefaultsFile;          // UserDefaults::path()
    QString loginItemFile;             // LoginItem::path()
    QString executable;                // ProgramPaths::launcher()
    std::chrono::milliseconds sensorPause{300};
    std::chrono::milliseconds scriptRefreshDelay{2500};
    bool startTimer = true;
};

class Model : public QObject {
    Q_OBJECT

  public:
    static constexpr int pollIntervalMs = 2000;
    // The panel animates a changed fan list with an ease-out curve of this length.
    static constexpr int fanAnimationMs = 400;

    // Loads the settings and style, runs one refresh, starts the timer.
    explicit Model(ModelOptions options = {}, QObject* parent = nullptr);
    ~Model() override;

    // Observable state. Every assignment, changed or not, emits aboutToChange() then changed().
    const Readings& readings() const { return readings_; }
    const std::vector<Fan>& fans() const { return fans_; }
    const PowerState& power() const { return power_; }
    const std::optional<Status>& status() const { return status_; }
    bool helperInstalled() const { return helperInstalled_; }
    bool helperOutdated() const { return helperOutdated_; }
    const std::optional<QString>& helperMessage() const { return helperMessage_; }
    // How to allow fan control where the driver refuses it (one line), absent where it allows it.
    const std::optional<QString>& fanControlBlocked() const { return fanControlBlocked_; }
    const Config& config() const { return config_; }
    const MenuBarStyle& menuBar() const { return menuBar_; }
    const AlertSettings& alerts() const { return alerts_; }

    // Stores the settings; writes the settings file (Config::save) only when a field differs from
    // the previous value. When that fails the settings are kept in the user's folder
    // (PendingSettings) and written after the next successful install; helperMessage says so when
    // the daemon would go on without them. onUpdate is not run.
    void setConfig(const Config& config);

    // Stores the style, forcing the icon on when it would show nothing; when the result differs
    // from the previous style, saves it to the user defaults and runs onUpdate.
    void setMenuBar(const MenuBarStyle& style);

    // Stores which alerts the user wants and saves them to the user defaults when they differ.
    void setAlerts(const AlertSettings& alerts);

    // Written by refresh() and the actions; public for the snapshot shell and tests.
    void setReadings(const Readings& readings);
    // Emits fansChanged(animated) with animated true when `animated` is asked for and the list
    // differs from the current one.
    void setFans(const std::vector<Fan>& fans, bool animated = false);
    void setPower(const PowerState& power);
    void setStatus(const std::optional<Status>& status);
    void setHelperInstalled(bool installed);
    void setHelperOutdated(bool outdated);
    void setHelperMessage(const std::optional<QString>& message);
    void setFanControlBlocked(const std::optional<QString>& reason);

    // Derived on every read.
    Heat chipHeat() const;         // from readings().hottest(): warm from 80 °C, hot from 95 °C
    double speedFraction() const;  // 0..1: greatest actual/max of fans at 100 rpm or more
    int level() const;             // 0..5 of the fastest fan; non-finite speeds are not counted
    double topRPM() const;         // greatest speed; 0 without fans (non-finite speeds ignored)
    double minRPM() const;         // greatest minimum; 1000 without fans (non-finite ignored)
    double maxRPM() const;         // smallest maximum; 6000 without fans (non-finite ignored)
    bool hasBattery() const;       // a battery percent or a battery temperature is known
    // A status exists and is less than 10 s old (a daemon whose process is gone leaves none).
    bool helperRunning() const;
    // A fan is in manual control; with no daemon running nothing drives it.
    bool fansLeftManual() const;
    // The daemon holds the fans and they confirm it (fanControl() is daemon).
    bool daemonDriving() const;
    // The boost strength in words and the temperatures it acts between, for the boost the daemon
    // applies (config().sanitized(): out of range clamped, non-finite as the default).
    QString boostLabel() const;
    QString boostDetail() const;
    // Who drives the fans: no fans, not installed, not running, or the driver of a fresh status.
    FanControlState fanControl() const;
    // fanControl() in one line; a manual target that is not finite or does not fit a 64-bit
    // integer shows as an en dash ("tarnwick: – rpm · reason").
    QString modeLine() const;

    // One polling pass: readings, fans, power, status, installed and outdated flags, a history
    // sample, onUpdate. Readings, fans and power come from the daemon's measurements while they
    // are fresh, else from the hardware itself.
    void refresh();

    // When the daemon took the measurements the last refresh showed (seconds since 1970); absent
    // when that refresh read the hardware itself.
    const std::optional<double>& measuredAt() const { return measuredAt_; }

    // The last minutes of polls (hottest chip, fan speeds, who drove), on the wall clock.
    const History& history() const { return history_; }

    // Starts the bundle's script `script` ("install.sh", "uninstall.sh") with administrator
    // rights on the next event-loop turn, after emitting privilegedRunStarting(); returns at once.
    // When it ends: helperMessage from the outcome, kept settings written after an install, and a
    // refresh 2.5 s later. Ignored while another script runs; a missing script only sets the
    // message.
    void runPrivileged(const QString& script);
    // The script that is running, absent when none is.
    const std::optional<QString>& runningScript() const { return runningScript_; }
    // Settings the daemon cannot have yet (kept until the settings file can be written).
    bool settingsPending() const;
    // A note for the cooling controls while no daemon acts on them; empty when one does.
    QString settingsNote() const;

    // Whether the application starts at login; setting it reports a failure in helperMessage and
    // always emits aboutToChange()/changed().
    bool launchAtLogin() const;
    void setLaunchAtLogin(bool enabled);

    // "warm" or "hot" from the options, else absent; fixed at construction.
    const std::optional<QString>& demo() const { return options_.demo; }
    // The bundle's copy of the daemon executable, read once on first use; absent when unreadable.
    const std::optional<QByteArray>& bundledHelper() const;
    // The options' noFans.
    bool simulateNoFans() const { return options_.noFans; }

    // The temperature sources, discovered on first use (not while the daemon's measurements
    // serve the polls); handed to the diagnostics report.
    const Sensors& sensors() const;

    // Where the bundle's resources are looked up.
    const QString& bundleDir() const { return bundleDir_; }

    // Run at the end of every refresh and after every effective change of menuBar.
    std::function<void()> onUpdate;

    // When true, a changed fan list is published as an animated change (the shell sets it).
    bool animateChanges = false;

  signals:
    // Before every assignment of an observable property (and around launch-at-login changes).
    void aboutToChange();
    // After every such assignment; views re-read the model.
    void changed();
    // On every assignment of fans, after the new list is stored and before changed(); `animated`
    // asks the views to animate to the new speeds (ease-out, fanAnimationMs).
    void fansChanged(bool animated);
    // At the end of every refresh, after onUpdate.
    void refreshed();
    // A privileged script is about to start: whatever holds the pointer and keyboard must let
    // them go, or the password prompt cannot take them.
    void privilegedRunStarting();

  private:
    template <typename T, typename U>
    void assign(T& field, U&& value) {
        emit aboutToChange();
        field = std::forward<U>(value);
        emit changed();
    }

    double now() const;
    void privilegedRunEnded(const QString& script, const Installer::RunResult& result);
    // Writes the settings file: the fields changed since `before` over what it holds now, or all
    // of them without `before`; on failure keeps them for later and returns the error.
    std::optional<QString> saveConfig(const std::optional<Config>& before = std::nullopt);

    Readings readings_;
    std::vector<Fan> fans_;
    PowerState power_;
    std::optional<Status> status_;
    std::optional<double> measuredAt_;
    bool helperInstalled_ = false;
    bool helperOutdated_ = false;
    std::optional<QString> helperMessage_;
    std::optional<QString> fanControlBlocked_;
    Config config_;
    MenuBarStyle menuBar_;
    AlertSettings alerts_;

    ModelOptions options_;
    QString bundleDir_;
    QString pendingFile_;
    std::optional<QString> runningScript_;
    std::optional<QString> settingsMessage_;  // the helperMessage a failed save set
    mutable std::optional<std::optional<QByteArray>> bundledHelper_;
    mutable std::unique_ptr<Sensors> sensors_;
    ReadingsSmoother smoother_;
    InstalledDaemon installedDaemon_;
    History history_;
    QTimer* timer_ = nullptr;
};
