#include "Tarnwick/alerts/AlertMonitor.h"

#include <cmath>

#include "FanCore/Policy/Platform.h"
#include "FanCore/Text/FanName.h"
#include "FanCore/Text/Rpm.h"
#include "FanCore/Text/Temperature.h"

namespace {

QString degrees(double value) { return QString::fromStdString(FanText::celsius(value, 0)); }

// "left fan", "right fan", "fan", "fan 3".
QString fanNoun(const Fan& fan, std::size_t count) {
    const QString name = QString::fromStdString(FanText::fanName(fan.index, count));
    return name.startsWith(QStringLiteral("fan")) ? name : name + QStringLiteral(" fan");
}

}  // namespace

bool AlertMonitor::Episode::due(bool holds, double now, double duration) {
    if (!holds) {
        since.reset();
        raised = false;
        return false;
    }
    if (!since) since = now;
    if (raised || now - *since < duration) return false;
    if (lastAlert && now - *lastAlert < coolDown) return false;
    raised = true;
    lastAlert = now;
    return true;
}

void AlertMonitor::setSettings(const AlertSettings& settings) {
    if (!settings.chipHot) chip_ = {};
    if (!settings.fanFailure) fans_.clear();
    if (!settings.controlStopped) control_ = {};
    settings_ = settings;
}

std::vector<Alert> AlertMonitor::update(const AlertInput& input, double now) {
    std::vector<Alert> out;
    if (settings_.chipHot) checkChip(input, now, out);
    if (settings_.fanFailure) checkFans(input, now, out);
    if (settings_.controlStopped) checkControl(input, now, out);
    return out;
}

void AlertMonitor::checkChip(const AlertInput& input, double now, std::vector<Alert>& out) {
    const std::optional<double> t = input.hottest;
    const bool hot = t && *t >= hotThreshold;
    if (!hot && chip_.raised) {
        // Between the margin and the threshold the alert stays raised, so a chip hovering at
        // the threshold cannot alternate the two messages; without a reading nothing is said.
        if (!t || *t >= hotThreshold - recoveryMargin) return;
        out.push_back({AlertKind::chipNormal, QStringLiteral("chip back to normal"),
                       QStringLiteral("the chip is at ") + degrees(*t)});
    }
    if (chip_.due(hot, now, hotFor)) {
        out.push_back({AlertKind::chipHot, QStringLiteral("chip above ") + degrees(hotThreshold),
                       QStringLiteral("the chip has been at %1 or more for %2 s, now %3")
                           .arg(degrees(hotThreshold))
                           .arg(static_cast<int>(now - *chip_.since))
                           .arg(degrees(*t))});
    }
}

void AlertMonitor::checkFans(const AlertInput& input, double now, std::vector<Alert>& out) {
    std::map<int64_t, Episode> seen;
    for (const Fan& fan : input.fans) {
        Episode& episode = seen[fan.index] = fans_[fan.index];
        const bool slow = input.daemonDriving && std::isfinite(fan.actual) &&
                          std::isfinite(fan.target) && fan.target > 0 &&
                          fan.actual < fan.target * fanShare;
        if (episode.due(slow, now, fanFor)) {
            out.push_back({AlertKind::fanFailure,
                           fanNoun(fan, input.fans.size()) + QStringLiteral(" may have failed"),
                           QStringLiteral("it turns at ") +
                               QString::fromStdString(FanText::roundedRpm(fan.actual)) +
                               QStringLiteral(" while asked for ") +
                               QString::fromStdString(FanText::roundedRpm(fan.target))});
        }
    }
    // A fan that left the list takes its history with it.
    fans_ = std::move(seen);
}

void AlertMonitor::checkControl(const AlertInput& input, double now, std::vector<Alert>& out) {
    // Only a daemon seen running can stop unexpectedly; an uninstall is the user's own doing.
    if (!input.helperInstalled) sawRunning_ = false;
    if (input.helperInstalled && input.helperRunning) sawRunning_ = true;
    const bool stopped = sawRunning_ && input.helperInstalled && !input.helperRunning;
    if (control_.due(stopped, now, stoppedFor)) {
        out.push_back({AlertKind::controlStopped, QStringLiteral("fan control stopped"),
                       QStringLiteral("the fan-control daemon stopped reporting; ") +
                           QString::fromLatin1(Platform::osName.data(),
                                               static_cast<qsizetype>(Platform::osName.size())) +
                           QStringLiteral(" drives the fans")});
    }
}
