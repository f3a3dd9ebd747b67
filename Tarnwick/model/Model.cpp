#include "Tarnwick/model/Model.h"

#include <QDateTime>
#include <QFileInfo>
#include <filesystem>
#include <system_error>
#include <utility>

#include "FanCore/Policy/DaemonProcess.h"
#include "FanCore/Policy/Measurements.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Policy/SafeFile.h"
#include "FanCore/Sensors/Fans.h"
#include "FanCore/Sensors/Power.h"
#include "FanCore/Sensors/Sensors.h"
#include "Tarnwick/model/DemoReadings.h"
#include "Tarnwick/model/FanSummary.h"
#include "Tarnwick/model/ModeTexts.h"
#include "Tarnwick/model/PendingSettings.h"
#include "Tarnwick/model/ProgramPaths.h"
#include "Tarnwick/model/UserDefaults.h"

namespace {

// The settings file as the daemon reads it (Config::load), but absent where that would fall back
// to the defaults.
std::optional<Config> storedConfig() {
    const std::optional<std::string> text = SafeFile::readBounded(Paths::config());
    const std::optional<Config> decoded = text ? Config::decode(*text) : std::nullopt;
    if (!decoded) return std::nullopt;
    return decoded->sanitized();
}

}  // namespace

Model::Model(ModelOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    bundleDir_ = options_.bundleDir ? *options_.bundleDir : ProgramPaths::bundleDir();

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
    return ModeTexts::settingsNote(!fans_.empty(), helperInstalled_, helperRunning());
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

double Model::speedFraction() const { return FanSummary::speedFraction(fans_); }

int Model::level() const { return FanSummary::level(fans_); }

double Model::topRPM() const { return FanSummary::topRPM(fans_); }

double Model::minRPM() const { return FanSummary::minRPM(fans_); }

double Model::maxRPM() const { return FanSummary::maxRPM(fans_); }

bool Model::hasBattery() const {
    return power_.percent.has_value() || readings_.battery.has_value();
}

bool Model::helperRunning() const { return status_.has_value() && status_->isFresh(now()); }

bool Model::daemonDriving() const { return fanControl() == FanControlState::daemon; }

QString Model::boostLabel() const { return ModeTexts::boostLabel(config_); }

QString Model::boostDetail() const { return ModeTexts::boostDetail(config_); }

FanControlState Model::fanControl() const {
    return fanControlState(!fans_.empty(), helperInstalled_, status_, now());
}

bool Model::fansLeftManual() const { return FanSummary::anyManual(fans_); }

QString Model::modeLine() const {
    return ModeTexts::modeLine(fanControl(), status_, fansLeftManual());
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

    if (options_.demo) {
        setReadings(demoReadings(*options_.demo));
    } else {
        setReadings(smoother_.apply(measured ? measured->readings : sensors().read()));
    }

    std::vector<Fan> fans;
    if (!options_.noFans) fans = measured ? measured->fans : Fans::read();
    if (options_.demo) {
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
