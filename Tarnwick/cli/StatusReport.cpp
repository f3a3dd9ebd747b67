#include "Tarnwick/cli/StatusReport.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "FanCore/Text/FanName.h"
#include "FanCore/Text/Numbers.h"
#include "FanCore/Text/Rpm.h"
#include "FanCore/Text/Temperature.h"
#include "Tarnwick/cli/SetCommand.h"
#include "Tarnwick/model/Model.h"

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

QString degrees(double value) { return QString::fromStdString(FanText::celsius(value, 1)); }

QString speedText(double rpm) { return QString::fromStdString(FanText::roundedRpm(rpm)); }

QString fanName(const Fan& fan, std::size_t count) {
    return QString::fromStdString(FanText::fanName(fan.index, count));
}

QString fanLine(const Fan& fan, std::size_t count) {
    QString line = fanName(fan, count) + QStringLiteral(": ") + speedText(fan.actual);
    line += QStringLiteral(" (target %1, %2 to %3, %4)")
                .arg(speedText(fan.target), speedText(fan.min), speedText(fan.max),
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
        parts << QString::fromStdString(FanText::fixed(*hottest, 0)) + QStringLiteral("\u00b0C");
    }
    if (!model.fans().empty()) parts << speedText(model.topRPM());
    return parts.isEmpty() ? QStringLiteral("\u2013") : parts.join(u' ');
}

// One metric family of the Prometheus text format: its samples, each with its label set.
class Family {
  public:
    Family(const char* name, const char* type, const char* help)
        : name_(name), type_(type), help_(help) {}

    // Adds a sample; a value that is absent or not finite is left out.
    void add(std::optional<double> value, const QString& labels = {}) {
        if (!value || !std::isfinite(*value)) return;
        samples_ +=
            QString::fromLatin1(name_) + labels + u' ' + QString::number(*value, 'g', 12) + u'\n';
    }

    // HELP, TYPE and the samples; nothing for a family without samples.
    QString text() const {
        if (samples_.isEmpty()) return {};
        return QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n")
                   .arg(QString::fromLatin1(name_), QString::fromLatin1(help_),
                        QString::fromLatin1(type_)) +
               samples_;
    }

  private:
    const char* name_;
    const char* type_;
    const char* help_;
    QString samples_;
};

// {name="value"}, the value escaped as the format asks.
QString label(const char* name, QString value) {
    value.replace(u'\\', QStringLiteral("\\\\"))
        .replace(u'"', QStringLiteral("\\\""))
        .replace(u'\n', QStringLiteral("\\n"));
    return QStringLiteral("{%1=\"%2\"}").arg(QString::fromLatin1(name), value);
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

QByteArray prometheus(const Model& model) {
    Family chip("tarnwick_chip_temperature_celsius", "gauge",
                "The hottest chip temperature, which the boost follows.");
    // To a hundredth of a degree, as the JSON object: the sensors' float noise is not information.
    const auto rounded = [](std::optional<double> value) -> std::optional<double> {
        if (!value) return std::nullopt;
        return std::round(*value * 100.0) / 100.0;
    };
    chip.add(rounded(model.readings().hottest()));
    Family temperature("tarnwick_temperature_celsius", "gauge", "A temperature, by sensor group.");
    for (const Temperature& t : kTemperatures) {
        temperature.add(rounded(model.readings().*t.field),
                        label("sensor", QString::fromLatin1(t.key)));
    }

    Family speed("tarnwick_fan_speed_rpm", "gauge", "A fan's measured speed.");
    Family target("tarnwick_fan_target_rpm", "gauge", "The speed a fan is asked for.");
    Family low("tarnwick_fan_min_rpm", "gauge", "A fan's lowest speed.");
    Family high("tarnwick_fan_max_rpm", "gauge", "A fan's highest speed.");
    Family manual("tarnwick_fan_manual", "gauge",
                  "1 while a fan is in manual control, 0 while the firmware drives it.");
    for (const Fan& fan : model.fans()) {
        const QString fanLabel = label("fan", fanName(fan, model.fans().size()));
        speed.add(fan.actual, fanLabel);
        target.add(fan.target, fanLabel);
        low.add(fan.min, fanLabel);
        high.add(fan.max, fanLabel);
        manual.add(fan.mode == 1 ? 1.0 : 0.0, fanLabel);
    }

    Family installed("tarnwick_control_installed", "gauge", "1 while fan control is installed.");
    installed.add(model.helperInstalled() ? 1.0 : 0.0);
    Family running("tarnwick_control_running", "gauge",
                   "1 while the fan-control daemon reports (a status younger than 10 s).");
    running.add(model.helperRunning() ? 1.0 : 0.0);
    Family driving("tarnwick_control_driver", "gauge",
                   "1 for who drives the fans now, 0 for the others.");
    const QString who = driver(model);
    if (!who.isEmpty()) {
        for (const char* each : {"system", "daemon", "overridden", "handing back", "sleeping"}) {
            driving.add(who == QLatin1String(each) ? 1.0 : 0.0,
                        label("driver", QString::fromLatin1(each)));
        }
    }
    const std::optional<Status>& status = model.status();
    Family daemonTarget("tarnwick_control_target_rpm", "gauge",
                        "The speed the daemon last set, while it drives the fans.");
    Family failing("tarnwick_control_error", "gauge", "1 while the daemon reports a problem.");
    Family updated("tarnwick_control_updated_timestamp_seconds", "gauge",
                   "When the daemon last wrote its status, in seconds since 1970.");
    if (status) {
        if (status->manual) daemonTarget.add(status->targetRPM);
        failing.add(status->error ? 1.0 : 0.0);
        updated.add(status->updated);
    }
    Family boost("tarnwick_setting_boost_ratio", "gauge",
                 "The boost's strength from 0 to 1 (0 while a fixed speed is set).");
    boost.add(model.config().manualMode ? 0.0 : model.config().boost);

    QString text;
    for (const Family* family :
         {&chip, &temperature, &speed, &target, &low, &high, &manual, &installed, &running,
          &driving, &daemonTarget, &failing, &updated, &boost}) {
        text += family->text();
    }
    return text.toUtf8();
}

}  // namespace StatusReport
