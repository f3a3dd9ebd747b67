#include "FanCore/Diagnostics/Diagnostics.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <string_view>
#include <vector>

#include "CSMC/smc.h"
#include "FanCore/Policy/DaemonProcess.h"
#include "FanCore/Policy/Measurements.h"
#include "FanCore/Policy/Platform.h"
#include "FanCore/Policy/Status.h"
#include "FanCore/Sensors/Chip.h"
#include "FanCore/Sensors/Fans.h"
#include "FanCore/Sensors/Power.h"
#include "FanCore/Sensors/Sensors.h"
#include "FanCore/Text/Numbers.h"
#include "FanCore/Text/Temperature.h"

namespace Diagnostics {
namespace {

// Whole rpm, truncated towards zero, every digit of any finite value; a value that is not finite
// means the SMC sent garbage and shows as "-".
std::string integerText(double value) {
    return std::isfinite(value) ? FanText::wholeDigits(value) : "-";
}

std::string temperatureText(std::optional<double> celsius) {
    return celsius ? FanText::celsius(*celsius, 1) : "-";
}

std::string daemonLine() {
    const std::optional<Status> status = Status::load();
    if (!status) return "helper: no status";
    std::string line = "helper: ";
    if (status->manual) {
        line += "manual " + integerText(status->targetRPM) + " rpm";
    } else {
        line += Platform::baselineName;
    }
    line += " \u00B7 " + status->reason;
    if (status->error) line += " \u00B7 error: " + *status->error;
    return line;
}

// The daemon's last measurements while it runs and they are fresh, as the application takes them.
std::optional<Measurements> daemonMeasurements(double now) {
    std::optional<Measurements> measured = Measurements::load();
    if (!measured || DaemonProcess::alive() == false || !measured->isFresh(now)) {
        return std::nullopt;
    }
    return measured;
}

}  // namespace

std::string report(const Sensors& sensors) {
    return report([&sensors]() -> const Sensors& { return sensors; });
}

std::string report(const std::function<const Sensors&()>& sensors) {
    std::vector<std::string> lines;
    const std::optional<int64_t> generation = Chip::generation();
    lines.push_back("chip: " + Chip::brand() + " (generation " +
                    (generation ? std::to_string(*generation) : std::string("?")) + ")");

    const auto version = Platform::osVersion();
    lines.push_back(std::string(Platform::osName) + ": " + std::to_string(version[0]) + "." +
                    std::to_string(version[1]) + "." + std::to_string(version[2]));

    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const std::optional<Measurements> measured = daemonMeasurements(now);
    if (measured) {
        lines.push_back("measured by the daemon " +
                        FanText::fixed(std::max(now - measured->updated, 0.0), 1) +
                        " s ago: temperatures (raw), fans, power");
    }

    const Readings readings = measured ? measured->readings : sensors().read();
    const std::pair<std::string_view, std::optional<double>> temperatures[] = {
        {"cpu", readings.cpu},           {"gpu", readings.gpu},
        {"die", readings.die},           {"ssd", readings.ssd},
        {"battery", readings.battery},   {"wifi", readings.wifi},
        {"air", readings.airflow},       {"palm rest", readings.palmRest},
        {"hottest", readings.hottest()},
    };
    for (const auto& [label, value] : temperatures) {
        lines.push_back(std::string(label) + ": " + temperatureText(value));
    }

    smc_info info;
    const bool unlockKey = measured && measured->unlockKey
                               ? *measured->unlockKey
                               : smc_key_info(smc_fourcc("Ftst"), &info) == 0;
    lines.push_back(std::string("ftst unlock key: ") + (unlockKey ? "yes" : "no"));

    for (const Fan& fan : measured ? measured->fans : Fans::read()) {
        lines.push_back("fan " + std::to_string(fan.index) + ": " + integerText(fan.actual) +
                        " rpm (min " + integerText(fan.min) + ", max " + integerText(fan.max) +
                        ", mode " + std::to_string(fan.mode) + ")");
    }

    const PowerState power = measured ? measured->power : Power::state();
    lines.push_back("power: " +
                    (power.percent ? "battery " + std::to_string(*power.percent) + " %"
                                   : std::string("no battery")) +
                    ", ac " + (power.onAC ? "true" : "false") + ", charging " +
                    (power.charging ? "true" : "false"));

    lines.push_back(daemonLine());

    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += '\n';
        text += lines[i];
    }
    return text;
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto escape = [&out](unsigned char byte) {
        static constexpr char digits[] = "0123456789abcdef";
        out += "\\x";
        out += digits[byte >> 4];
        out += digits[byte & 0xF];
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool c1 = byte == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c1) {
            escape(static_cast<unsigned char>(text[++i]));
        } else if ((byte < 0x20 && byte != '\n') || byte == 0x7F) {
            escape(byte);
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace Diagnostics
