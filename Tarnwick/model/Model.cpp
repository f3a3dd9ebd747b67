#include "Tarnwick/model/Model.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <utility>

#include "FanCore/Policy/Curve.h"
#include "FanCore/Policy/DaemonProcess.h"
#include "FanCore/Policy/Measurements.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Policy/Platform.h"
#include "FanCore/Policy/SafeFile.h"
#include "FanCore/Sensors/Fans.h"
#include "FanCore/Sensors/Power.h"
#include "FanCore/Sensors/Sensors.h"
#include "Tarnwick/model/LoginItem.h"
#include "Tarnwick/model/PendingSettings.h"
#include "Tarnwick/model/UserDefaults.h"

namespace {

const QString kBaseline = QString::fromLatin1(
    Platform::baselineName.data(), static_cast<qsizetype>(Platform::baselineName.size()));

// The settings file as the daemon reads it (Config::load), but absent where that would fall back
// to the defaults.
std::optional<Config> storedConfig() {
    const std::optional<std::string> text = SafeFile::readBounded(Paths::config());
    const std::optional<Config> decoded = text ? Config::decode(*text) : std::nullopt;
    if (!decoded) return std::nullopt;
    return decoded->sanitized();
}

// A speed as a whole number, truncated towards zero; an en dash when it has no such form.
QString wholeRPM(double rpm) {
    constexpr double kLimit = 9223372036854775808.0;  // 2^63
    if (!std::isfinite(rpm) || rpm >= kLimit || rpm < -kLimit) return QStringLiteral("\u2013");
    return QString::number(static_cast<qint64>(rpm));
}

}  // namespace

Model::Model(ModelOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    const QStringList arguments =
        options_.arguments ? *options_.arguments : QCoreApplication::arguments();
    bundleDir_ = options_.bundleDir ? *options_.bundleDir : Installer::defaultBundleDir();

    pendingFile_ = PendingSettings::path(options_.userDefaultsFile);
    // Kept settings are newer than the file: they exist only because writing it failed.
    if (const std::optional<Config> pending = PendingSettings::load(pendingFile_)) {
        config_ = *pending;
        if (Config::load() == config_ ||
            Config::update([this](const Config&) { return config_; })) {
            PendingSettings::discard(pendingFile_);
        }
    } else {
        config_ = Config::load();
    }
    const auto defaults = UserDefaults::open(options_.userDefaultsFile);
    menuBar_ = MenuBarStyle::load(*defaults);
    alerts_ = AlertSettings::load(*defaults);

    simulateNoFans_ = arguments.contains(QStringLiteral("--no-fans"));
    demo_ = demoFrom(arguments);

    refresh();

    if (options_.startTimer) {
        // A child timer dies with the model, so a firing never reaches a destroyed model.
        timer_ = new QTimer(this);
        timer_->setInterval(pollIntervalMs);
        connect(timer_, &QTimer::timeout, this, &Model::refresh);
        timer_->start();
    }
}

Model::~Model() = default;

template <typename T, typename U>
void Model::assign(T& field, U&& value) {
    emit aboutToChange();
    field = std::forward<U>(value);
    emit changed();
}

void Model::setReadings(const Readings& readings) { assign(readings_, readings); }

void Model::setFans(const std::vector<Fan>& fans, bool animated) {
    const bool animate = animated && fans != fans_;
    emit aboutToChange();
    fans_ = fans;
    emit fansChanged(animate);
    emit changed();
}

void Model::setPower(const PowerState& power) { assign(power_, power); }

void Model::setStatus(const std::optional<Status>& status) { assign(status_, status); }

void Model::setHelperInstalled(bool installed) { assign(helperInstalled_, installed); }

void Model::setHelperOutdated(bool outdated) { assign(helperOutdated_, outdated); }

void Model::setFanControlBlocked(const std::optional<QString>& reason) {
    assign(fanControlBlocked_, reason);
}

void Model::setHelperMessage(const std::optional<QString>& message) {
    assign(helperMessage_, message);
}

void Model::setConfig(const Config& config) {
    const Config previous = config_;
    assign(config_, config);
    if (previous == config_) return;
    // Another account's settings: the panel shows them again, and keeps nothing for later.
    if (const std::optional<std::string> refusal = Config::otherOwner()) {
        assign(config_, Config::load());
        settingsMessage_ =
            QStringLiteral("settings not saved: ") + QString::fromStdString(*refusal);
        setHelperMessage(settingsMessage_);
        return;
    }
    const std::optional<QString> error = saveConfig(previous);
    if (!error) {
        if (settingsMessage_ && helperMessage_ == settingsMessage_) setHelperMessage(std::nullopt);
        settingsMessage_.reset();
        return;
    }
    // Before the install the kept copy is the plan, not a failure; afterwards the daemon goes on
    // with the old settings, and the user has to know.
    if (!helperInstalled_ && settingsPending()) return;
    settingsMessage_ = QStringLiteral("settings not saved: ") + *error;
    setHelperMessage(settingsMessage_);
}

std::optional<QString> Model::saveConfig(const std::optional<Config>& before) {
    const auto saved = Config::update([&](const Config& current) {
        return before ? current.withChanges(*before, config_) : config_;
    });
    if (saved) {
        PendingSettings::discard(pendingFile_);
        // What another process changed meanwhile shows at once.
        if (!(*saved == config_)) assign(config_, *saved);
        return std::nullopt;
    }
    const QString error = QString::fromStdString(saved.error());
    const auto kept = PendingSettings::save(config_, pendingFile_);
    if (!kept) return error + QStringLiteral("; ") + kept.error();
    return error;
}

bool Model::settingsPending() const { return QFileInfo::exists(pendingFile_); }

QString Model::settingsNote() const {
    if (fans_.empty()) return {};
    if (!helperInstalled_) {
        return QStringLiteral(
            "fan control is not installed: these settings take effect once it is");
    }
    if (!helperRunning()) {
        return QStringLiteral(
            "fan control is not running: these settings take effect once it runs");
    }
    return {};
}

void Model::setMenuBar(const MenuBarStyle& style) {
    const MenuBarStyle previous = menuBar_;
    assign(menuBar_, style);
    if (!menuBar_.showIcon && menuBar_.value == MenuBarValue::none) {
        MenuBarStyle shown = menuBar_;
        shown.showIcon = true;
        setMenuBar(shown);
    }
    if (menuBar_ == previous) return;
    const auto settings = UserDefaults::open(options_.userDefaultsFile);
    menuBar_.save(*settings);
    settings->sync();
    if (onUpdate) onUpdate();
}

void Model::setAlerts(const AlertSettings& alerts) {
    const AlertSettings previous = alerts_;
    assign(alerts_, alerts);
    if (alerts_ == previous) return;
    const auto settings = UserDefaults::open(options_.userDefaultsFile);
    alerts_.save(*settings);
    settings->sync();
}

Heat Model::chipHeat() const { return heatFor(readings_.hottest()); }

double Model::speedFraction() const {
    double fraction = 0;
    for (const Fan& fan : fans_) {
        if (!std::isfinite(fan.actual)) continue;
        if (fan.max > 0 && fan.actual >= 100) {
            fraction = std::max(fraction, std::min(fan.actual / fan.max, 1.0));
        }
    }
    return fraction;
}

int Model::level() const {
    const Fan* fastest = nullptr;
    for (const Fan& fan : fans_) {
        if (!std::isfinite(fan.actual)) continue;
        if (fastest == nullptr || fan.actual > fastest->actual) fastest = &fan;
    }
    if (fastest == nullptr) return 0;
    if (fastest->actual < 100 || !(fastest->min < fastest->max)) return 0;
    const double steps = (fastest->actual - fastest->min) / (fastest->max - fastest->min) * 5.0;
    if (std::isnan(steps)) return 0;
    // Clamped while still floating point: an infinite quotient must not reach the conversion.
    return static_cast<int>(std::clamp(std::trunc(steps) + 1.0, 1.0, 5.0));
}

double Model::topRPM() const {
    std::optional<double> top;
    for (const Fan& fan : fans_) {
        if (std::isfinite(fan.actual) && (!top || fan.actual > *top)) top = fan.actual;
    }
    return top.value_or(0.0);
}

double Model::minRPM() const {
    std::optional<double> lowest;
    for (const Fan& fan : fans_) {
        if (std::isfinite(fan.min) && (!lowest || fan.min > *lowest)) lowest = fan.min;
    }
    return lowest.value_or(1000.0);
}

double Model::maxRPM() const {
    std::optional<double> highest;
    for (const Fan& fan : fans_) {
        if (std::isfinite(fan.max) && (!highest || fan.max < *highest)) highest = fan.max;
    }
    return highest.value_or(6000.0);
}

bool Model::hasBattery() const {
    return power_.percent.has_value() || readings_.battery.has_value();
}

bool Model::helperRunning() const { return status_.has_value() && status_->isFresh(now()); }

bool Model::daemonDriving() const { return fanControl() == FanControlState::daemon; }

QString Model::boostLabel() const {
    // The daemon acts on the sanitised settings, so the label describes those.
    const double b = config_.sanitized().boost;
    if (b < 0.01) return kBaseline + QStringLiteral(" decides");
    if (b < 0.35) return QStringLiteral("a bit more than ") + kBaseline;
    if (b < 0.65) return QStringLiteral("noticeably more");
    if (b < 0.99) return QStringLiteral("a lot");
    return QStringLiteral("full speed");
}

QString Model::boostDetail() const {
    const double b = config_.sanitized().boost;
    if (b < 0.01) return QStringLiteral("fans are controlled by the %1 as usual").arg(kBaseline);
    if (b >= 0.99) return QStringLiteral("fans stay at maximum");
    return QString::asprintf(
        "adds speed from %.0f \u00b0C, full speed at %.0f \u00b0C; if the %s spins faster, it is "
        "left alone",
        Curve::startTemp(b), Curve::fullTemp(b), kBaseline.toUtf8().constData());
}

FanControlState Model::fanControl() const {
    return fanControlState(!fans_.empty(), helperInstalled_, status_, now());
}

bool Model::fansLeftManual() const {
    return std::any_of(fans_.begin(), fans_.end(), [](const Fan& fan) { return fan.mode != 0; });
}

QString Model::modeLine() const {
    // Nothing drives a fan in manual control when no daemon runs: the user must hear of it.
    const auto withLeftManual = [this](const QString& line) {
        return fansLeftManual() ? line + QStringLiteral(" \u00b7 fans left manual") : line;
    };
    const auto withDetail = [](const QString& line, const std::string& detail) {
        return detail.empty() ? line
                              : line + QStringLiteral(" \u00b7 ") + QString::fromStdString(detail);
    };
    switch (fanControl()) {
        case FanControlState::noFans:
            return QStringLiteral("no fans");
        case FanControlState::notInstalled:
            return withLeftManual(QStringLiteral("fan control not installed"));
        case FanControlState::notRunning:
            return withLeftManual(QStringLiteral("fan control not running"));
        case FanControlState::sleeping:
            return withDetail(QStringLiteral("tarnwick paused for sleep"),
                              status_->error.value_or(""));
        case FanControlState::overridden:
            return withDetail(QStringLiteral("tarnwick overridden"), status_->reason);
        case FanControlState::handingBack:
            return withDetail(QStringLiteral("tarnwick handing back"),
                              status_->error.value_or(status_->reason));
        case FanControlState::system:
        case FanControlState::daemon:
            break;
    }
    if (status_->error) return QString::fromStdString(*status_->error);
    if (!status_->manual) return kBaseline + QStringLiteral(" in control");
    return QStringLiteral("tarnwick: ") + wholeRPM(status_->targetRPM) +
           QStringLiteral(" rpm \u00b7 ") + QString::fromStdString(status_->reason);
}

void Model::refresh() {
    // While the daemon runs it has just read the machine; asking the SMC again would double the
    // traffic on a bus that takes milliseconds per key.
    // A daemon seen gone (killed, crashed) left its last files behind: neither they nor its fans'
    // modes as it last saw them tell anything now.
    const bool daemonGone = DaemonProcess::alive() == false;
    std::optional<Measurements> measured = Measurements::load();
    if (measured && (daemonGone || !measured->isFresh(now()))) measured.reset();
    measuredAt_ = measured ? std::optional(measured->updated) : std::nullopt;

    if (demo_) {
        setReadings(demoReadings(*demo_));
    } else {
        setReadings(smoother_.apply(measured ? measured->readings : sensors().read()));
    }

    std::vector<Fan> fans;
    if (!simulateNoFans_) fans = measured ? measured->fans : Fans::read();
    if (demo_) {
        for (Fan& fan : fans) {
            fan.actual = 0;
            fan.target = 0;
            fan.mode = 0;
        }
    }
    setFans(fans, animateChanges);
    // Asks the driver only where it can refuse writes, so the daemon's measurements stay the
    // whole of a refresh's traffic on the other transports.
    const std::string blocked = fans.empty() ? std::string() : Fans::controlBlocked();
    setFanControlBlocked(blocked.empty() ? std::nullopt
                                         : std::optional(QString::fromStdString(blocked)));

    setPower(measured ? measured->power : Power::state());
    setStatus(daemonGone ? std::nullopt : Status::load());
    // Settings written by someone else (the command line, another session) show in the panel;
    // a file that is missing or unreadable leaves the panel's own settings alone.
    // Kept settings that could not be written yet stay the panel's until they are.
    if (const std::optional<Config> stored = storedConfig();
        stored && !(*stored == config_) && !settingsPending()) {
        assign(config_, *stored);
    }

    std::error_code error;
    const bool installed = std::filesystem::exists(Paths::daemonUnitLink(), error);
    setHelperInstalled(installed);
    setHelperOutdated(installed &&
                      installedDaemon_.differs(
                          InstalledDaemon::executableOf(Paths::daemonUnitLink()), bundledHelper()));

    // Recorded without a change signal: every refresh ends in refreshed(), which the chart follows.
    history_.record(now(), readings_.hottest(), fans_, daemonDriving());

    if (onUpdate) onUpdate();
    emit refreshed();
}

void Model::runPrivileged(const QString& script) {
    if (runningScript_) return;
    const std::optional<QString> path = Installer::resourcePath(bundleDir_, script);
    if (!path) {
        setHelperMessage(script + QStringLiteral(" is missing from ") + bundleDir_);
        return;
    }
    assign(runningScript_, script);
    emit privilegedRunStarting();
    // One event-loop turn lets a closed pop-up's grab reach the X server before the prompt.
    QPointer<Model> self(this);
    QTimer::singleShot(0, this, [this, self, script, path = *path] {
        Installer::Done done = [self, script](const Installer::RunResult& result) {
            if (self) self->privilegedRunEnded(script, result);
        };
        if (options_.runner) {
            options_.runner(path, done);
        } else {
            Installer::start(path, this, done);
        }
    });
}

void Model::privilegedRunEnded(const QString& script, const Installer::RunResult& result) {
    const std::optional<QString> detail = Installer::message(result);
    std::optional<QString> message;
    if (detail) message = Installer::failureHeadline(script) + QLatin1Char('\n') + *detail;
    const bool installed = !detail && script == QLatin1String("install.sh") && !result.crashed &&
                           result.started && result.exitCode == 0;
    if (installed && settingsPending()) {
        // The install made the settings folder; the daemon gets what the user chose before.
        if (const std::optional<QString> error = saveConfig()) {
            message = QStringLiteral("settings not saved: ") + *error;
        }
    }
    settingsMessage_.reset();
    setHelperMessage(message);
    assign(runningScript_, std::nullopt);
    // The scripts start or stop the daemon asynchronously; look again once it has had time to
    // write its status.
    QTimer::singleShot(options_.scriptRefreshDelay, this, &Model::refresh);
}

bool Model::launchAtLogin() const { return LoginItem::isEnabled(options_.loginItemFile); }

void Model::setLaunchAtLogin(bool enabled) {
    const QString executable = options_.executable.isEmpty()
                                   ? QCoreApplication::applicationFilePath()
                                   : options_.executable;
    const auto result = LoginItem::setEnabled(enabled, executable, options_.loginItemFile);
    if (!result) setHelperMessage(QStringLiteral("launch at login: ") + result.error());
    // The check box reads the entry back, whatever happened.
    emit aboutToChange();
    emit changed();
}

const Sensors& Model::sensors() const {
    if (!sensors_) sensors_ = std::make_unique<Sensors>(options_.sensorPause);
    return *sensors_;
}

const std::optional<QByteArray>& Model::bundledHelper() const {
    if (!bundledHelper_) {
        const std::optional<QString> path =
            Installer::resourcePath(bundleDir_, QStringLiteral("tarnwickd"));
        bundledHelper_ = path ? InstalledDaemon::readFile(path->toStdString()) : std::nullopt;
    }
    return *bundledHelper_;
}

double Model::now() const {
    if (options_.now) return options_.now();
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

Readings Model::demoReadings(const QString& name) {
    Readings readings;
    if (name == QLatin1String("hot")) {
        readings.cpu = 97.4;
        readings.gpu = 88.2;
        readings.die = 96.1;
        readings.ssd = 54.3;
        readings.battery = 38.1;
        readings.wifi = 49.6;
        readings.airflow = 47.2;
        readings.palmRest = 36.8;
    } else {
        readings.cpu = 86.3;
        readings.gpu = 74.6;
        readings.die = 85.2;
        readings.ssd = 47.1;
        readings.battery = 36.2;
        readings.wifi = 44.4;
        readings.airflow = 41.3;
        readings.palmRest = 33.7;
    }
    return readings;
}

std::optional<QString> Model::demoFrom(const QStringList& arguments) {
    const qsizetype at = arguments.indexOf(QStringLiteral("--demo"));
    if (at < 0 || at + 1 >= arguments.size()) return std::nullopt;
    const QString& word = arguments.at(at + 1);
    if (word == QLatin1String("warm") || word == QLatin1String("hot")) return word;
    return std::nullopt;
}
