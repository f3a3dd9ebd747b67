#include "Tarnwick/model/ModeTexts.h"

#include "FanCore/Policy/Curve.h"
#include "FanCore/Policy/Platform.h"
#include "FanCore/Text/Rpm.h"

namespace ModeTexts {
namespace {

const QString kBaseline = QString::fromLatin1(
    Platform::baselineName.data(), static_cast<qsizetype>(Platform::baselineName.size()));

}  // namespace

QString boostLabel(const Config& config) {
    // The daemon acts on the sanitised settings, so the label describes those.
    const double b = config.sanitized().boost;
    if (b < 0.01) return kBaseline + QStringLiteral(" decides");
    if (b < 0.35) return QStringLiteral("a bit more than ") + kBaseline;
    if (b < 0.65) return QStringLiteral("noticeably more");
    if (b < 0.99) return QStringLiteral("a lot");
    return QStringLiteral("full speed");
}

QString boostDetail(const Config& config) {
    const double b = config.sanitized().boost;
    if (b < 0.01) return QStringLiteral("fans are controlled by the %1 as usual").arg(kBaseline);
    if (b >= 0.99) return QStringLiteral("fans stay at maximum");
    return QString::asprintf(
        "adds speed from %.0f \u00b0C, full speed at %.0f \u00b0C; if the %s spins faster, it is "
        "left alone",
        Curve::startTemp(b), Curve::fullTemp(b), kBaseline.toUtf8().constData());
}

QString modeLine(FanControlState state, const std::optional<Status>& status, bool fansLeftManual) {
    // Nothing drives a fan in manual control when no daemon runs: the user must hear of it.
    const auto withLeftManual = [fansLeftManual](const QString& line) {
        return fansLeftManual ? line + QStringLiteral(" \u00b7 fans left manual") : line;
    };
    const auto withDetail = [](const QString& line, const std::string& detail) {
        return detail.empty() ? line
                              : line + QStringLiteral(" \u00b7 ") + QString::fromStdString(detail);
    };
    switch (state) {
        case FanControlState::noFans:
            return QStringLiteral("no fans");
        case FanControlState::notInstalled:
            return withLeftManual(QStringLiteral("fan control not installed"));
        case FanControlState::notRunning:
            return withLeftManual(QStringLiteral("fan control not running"));
        case FanControlState::sleeping:
            return withDetail(QStringLiteral("tarnwick paused for sleep"),
                              status->error.value_or(""));
        case FanControlState::overridden:
            return withDetail(QStringLiteral("tarnwick overridden"), status->reason);
        case FanControlState::handingBack:
            return withDetail(QStringLiteral("tarnwick handing back"),
                              status->error.value_or(status->reason));
        case FanControlState::system:
        case FanControlState::daemon:
            break;
    }
    if (status->error) return QString::fromStdString(*status->error);
    if (!status->manual) return kBaseline + QStringLiteral(" in control");
    return QStringLiteral("tarnwick: ") +
           QString::fromStdString(FanText::truncatedRpm(status->targetRPM)) +
           QStringLiteral(" \u00b7 ") + QString::fromStdString(status->reason);
}

QString settingsNote(bool hasFans, bool installed, bool running) {
    if (!hasFans) return {};
    if (!installed) {
        return QStringLiteral(
            "fan control is not installed: these settings take effect once it is");
    }
    if (!running) {
        return QStringLiteral(
            "fan control is not running: these settings take effect once it runs");
    }
    return {};
}

}  // namespace ModeTexts
