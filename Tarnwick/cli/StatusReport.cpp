#include "Tarnwick/cli/StatusReport.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "Tarnwick/cli/SetCommand.h"
#include "Tarnwick/model/Model.h"
#include "Tarnwick/panel/views/FansSection.h"

// Ordered, so that "schema" leads and members read in a sensible order.
using Json = nlohmann::ordered_json;

namespace {

struct Temperature {
    const char* key;
    std::optional<double> Readings::*field;
};

// The JSON keys are the fields' names, stable whatever the panel calls them.
constexpr Temperature kTemperatures[] = {
    {"cpu", &Readings::cpu},         {"gpu", &Readings::gpu},           {"die", &Readings::die},
    {"ssd", &Readings::ssd},         {"battery", &Readings::battery},   {"wifi", &Readings::wifi},
    {"airflow", &Readings::airflow}, {"palmRest", &Readings::palmRest},
};

const char* heatText(Heat heat) {
    switch (heat) {
        case Heat::hot:
            return "hot";
        case Heat::warm:
            return "warm";
        case Heat::normal:
            break;
    }
    return "normal";
}

// A number JSON can carry; null for NaN and infinities.
Json jsonNumber(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

// Temperatures to a hundredth of a degree: the sensors' float noise is not information.
Json celsius(std::optional<double> value) {
    if (!value || !std::isfinite(*value)) return nullptr;
    return std::round(*value * 100.0) / 100.0;
}

QString degrees(double value) { return QStringLiteral("%1 \u00b0C").arg(value, 0, 'f', 1); }

QString fanLine(const Fan& fan, std::size_t count) {
    QString line = fanName(fan, count) + QStringLiteral(": ") + fanSpeedText(fan.actual);
    line += QStringLiteral(" (target %1, %2 to %3, %4)")
                .arg(fanSpeedText(fan.target), fanSpeedText(fan.min), fanSpeedText(fan.max),
                     fan.mode == 1 ? QStringLiteral("manual") : QStringLiteral("automatic"));
    return line;
}

// The fastest fan's share of its maximum, 0..100.
int percentage(const Model& model) {
    return static_cast<int>(std::lround(model.speedFraction() * 100.0));
}

QString barText(const Model& model) {
    QStringList parts;
    if (const auto hottest = model.readings().hottest(); hottest && std::isfinite(*hottest)) {
        parts << QStringLiteral("%1\u00b0C").arg(*hottest, 0, 'f', 0);
    }
    if (!model.fans().empty()) parts << fanSpeedText(model.topRPM());
    return parts.isEmpty() ? QStringLiteral("\u2013") : parts.join(u' ');
}

}  // namespace

namespace StatusReport {

QString driver(const Model& model) {
    switch (model.fanControl()) {
        case FanControlState::noFans:
            return {};
        case FanControlState::daemon:
            return QStringLiteral("daemon");
        case FanControlState::overridden:
            return QStringLiteral("overridden");
        case FanControlState::handingBack:
            return QStringLiteral("handing back");
        case FanControlState::sleeping:
            return QStringLiteral("sleeping");
        case FanControlState::notInstalled:
        case FanControlState::notRunning:
            if (model.fansLeftManual()) return QStringLiteral("left manual");
            break;
        case FanControlState::system:
            break;
    }
    return QStringLiteral("system");
}

QStringList lines(const Model& model) {
    QStringList out;
    const Readings& readings = model.readings();
    if (const auto hottest = readings.hottest()) {
        out << QStringLiteral("chip: ") + degrees(*hottest) + QStringLiteral(" (") +
                   QString::fromLatin1(heatText(model.chipHeat())) + u')';
    } else {
        out << QStringLiteral("chip: not measured");
    }
    for (const Temperature& t : kTemperatures) {
        if (const auto value = readings.*t.field) {
            out << QString::fromLatin1(t.key) + QStringLiteral(": ") + degrees(*value);
        }
    }
    for (const Fan& fan : model.fans()) out << fanLine(fan, model.fans().size());
    out << QStringLiteral("control: ") + model.modeLine();
    out << QStringLiteral("settings: ") + SetCommand::describe(model.config());
    return out;
}

QByteArray json(const Model& model) {
    Json temperatures = Json::object();
    for (const Temperature& t : kTemperatures)
        temperatures[t.key] = celsius(model.readings().*t.field);

    Json fans = Json::array();
    for (const Fan& fan : model.fans()) {
        fans.push_back({{"index", fan.index},
                        {"name", fanName(fan, model.fans().size()).toStdString()},
                        {"rpm", jsonNumber(fan.actual)},
                        {"target", jsonNumber(fan.target)},
                        {"min", jsonNumber(fan.min)},
                        {"max", jsonNumber(fan.max)},
                        {"manual", fan.mode == 1}});
    }

    const std::optional<Status>& status = model.status();
    const QString who = driver(model);
    Json control = {
        {"installed", model.helperInstalled()},
        {"running", model.helperRunning()},
        {"driver", who.isEmpty() ? Json(nullptr) : Json(who.toStdString())},
        {"line", model.modeLine().toStdString()},
        {"targetRPM", status && status->manual ? jsonNumber(status->targetRPM) : Json(nullptr)},
        {"reason", status ? Json(status->reason) : Json(nullptr)},
        {"error", status && status->error ? Json(*status->error) : Json(nullptr)},
        {"updated", status ? jsonNumber(status->updated) : Json(nullptr)},
    };

    const Config& config = model.config();
    const PowerState& power = model.power();
    const Json document = {
        {"schema", schemaVersion},
        {"hottest", celsius(model.readings().hottest())},
        {"heat", heatText(model.chipHeat())},
        {"temperatures", temperatures},
        {"fans", fans},
        {"control", control},
        {"power",
         {{"onAC", power.onAC},
          {"charging", power.charging},
          {"percent", power.percent ? Json(*power.percent) : Json(nullptr)}}},
        {"settings",
         {{"boost", config.boost},
          {"manualMode", config.manualMode},
          {"manualRPM", config.manualRPM},
          {"batteryCooling", config.batteryCooling},
          {"batteryTarget", config.batteryTarget},
          {"batteryOnlyOnAC", config.batteryOnlyOnAC}}},
    };
    return QByteArray::fromStdString(document.dump(-1, ' ', false, Json::error_handler_t::replace));
}

QByteArray bar(const Model& model) {
    const Json document = {
        {"text", barText(model).toStdString()},
        {"tooltip", lines(model).join(u'\n').toStdString()},
        {"class", heatText(model.chipHeat())},
        {"percentage", percentage(model)},
    };
    return QByteArray::fromStdString(document.dump(-1, ' ', false, Json::error_handler_t::replace));
}

}  // namespace StatusReport
