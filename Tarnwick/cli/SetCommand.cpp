#include "Tarnwick/cli/SetCommand.h"

#include <cmath>
#include <filesystem>
#include <optional>
#include <system_error>

#include "FanCore/Policy/Paths.h"
#include "Tarnwick/cli/Usage.h"
#include "Tarnwick/model/ProgramPaths.h"

namespace {

const QString kCommand = QStringLiteral("set");

// A finite decimal number; absent for anything else (QString::toDouble would take "inf").
std::optional<double> number(QString text) {
    text = text.trimmed();
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<bool> onOff(const QString& text) {
    const QString word = text.trimmed().toLower();
    if (word == u"on" || word == u"true" || word == u"yes" || word == u"1") return true;
    if (word == u"off" || word == u"false" || word == u"no" || word == u"0") return false;
    return std::nullopt;
}

// 0..1, or a percentage 0%..100%.
std::optional<double> boostFrom(QString text) {
    text = text.trimmed();
    if (text.endsWith(u'%')) {
        const std::optional<double> percent = number(text.chopped(1));
        if (!percent || *percent < 0 || *percent > 100) return std::nullopt;
        return *percent / 100.0;
    }
    const std::optional<double> fraction = number(text);
    if (!fraction || *fraction < 0 || *fraction > 1) return std::nullopt;
    return fraction;
}

QString flag(bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); }

// The install script beside this program.
QString installScript() { return ProgramPaths::bundleDir() + QStringLiteral("/install.sh"); }

}  // namespace

namespace SetCommand {

std::expected<Config, QString> apply(Config config, const QStringList& words) {
    if (words.isEmpty()) return std::unexpected(QStringLiteral("name a setting to change"));
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& name = words[i];
        if (name == u"auto") {
            config.manualMode = false;
            continue;
        }
        const bool known = name == u"boost" || name == u"manual" || name == u"battery" ||
                           name == u"target" || name == u"charger-only";
        if (!known) {
            return std::unexpected(QStringLiteral("unknown setting '") + name +
                                   QStringLiteral("' (boost, manual, auto, battery, target, "
                                                  "charger-only)"));
        }
        if (i + 1 >= words.size()) {
            return std::unexpected(name + QStringLiteral(" needs a value"));
        }
        const QString& value = words[++i];
        if (name == u"boost") {
            const std::optional<double> boost = boostFrom(value);
            if (!boost) {
                return std::unexpected(QStringLiteral("boost takes 0 to 1 or 0% to 100%, not '") +
                                       value + u'\'');
            }
            config.boost = *boost;
            config.manualMode = false;
        } else if (name == u"manual") {
            const std::optional<double> rpm = number(value);
            if (!rpm || *rpm < 0 || *rpm > 10000) {
                return std::unexpected(QStringLiteral("manual takes 0 to 10000 rpm, not '") +
                                       value + u'\'');
            }
            config.manualMode = true;
            config.manualRPM = *rpm;
        } else if (name == u"target") {
            const std::optional<double> target = number(value);
            if (!target || *target < 25 || *target > 45) {
                return std::unexpected(QStringLiteral("target takes 25 to 45 (\u00b0C), not '") +
                                       value + u'\'');
            }
            config.batteryTarget = *target;
        } else {
            const std::optional<bool> on = onOff(value);
            if (!on) {
                return std::unexpected(name + QStringLiteral(" takes on or off, not '") + value +
                                       u'\'');
            }
            (name == u"battery" ? config.batteryCooling : config.batteryOnlyOnAC) = *on;
        }
    }
    return config;
}

QString describe(const Config& config) {
    QString text = config.manualMode
                       ? QStringLiteral("manual %1 rpm").arg(config.manualRPM, 0, 'f', 0)
                       : QStringLiteral("boost %1").arg(config.boost, 0, 'g', 3);
    text += QStringLiteral(", battery cooling %1 (%2 \u00b0C, %3)")
                .arg(flag(config.batteryCooling))
                .arg(config.batteryTarget, 0, 'g', 3)
                .arg(config.batteryOnlyOnAC ? QStringLiteral("charger only")
                                            : QStringLiteral("also on battery"));
    return text;
}

int run(const QStringList& words) {
    if (words.contains(QStringLiteral("--help")) || words.contains(QStringLiteral("-h"))) {
        return Usage::print(Usage::set()) ? Usage::ok : Usage::failure;
    }
    // Checked first, so that a misuse is told as one; applied again under the settings' lock to
    // what the file holds then, so that a change another process made meanwhile stays.
    if (const auto checked = apply(Config{}, words); !checked) {
        return Usage::misused(kCommand, checked.error());
    }
    std::error_code error;
    const bool installed = std::filesystem::exists(Paths::daemonUnitLink(), error);
    const auto saved = Config::update(
        [&](const Config& current) { return apply(current, words).value_or(current); });
    if (!saved) {
        QString message = QString::fromStdString(saved.error());
        // Until fan control is installed nobody but root can create the settings folder.
        if (!installed && !std::filesystem::exists(Paths::dir(), error)) {
            message += QStringLiteral(
                           "\nfan control is not installed: install it from the panel of "
                           "'tarnwick', or run 'pkexec ") +
                       installScript() +
                       QStringLiteral("'; it prepares the settings folder for you");
        }
        return Usage::failed(kCommand, message);
    }
    if (!installed) {
        Usage::note(kCommand,
                    QStringLiteral("fan control is not installed; the settings apply once it is"));
    }
    return Usage::print(describe(*saved) + u'\n') ? Usage::ok : Usage::failure;
}

}  // namespace SetCommand
