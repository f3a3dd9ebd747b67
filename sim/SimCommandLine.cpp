#include "sim/SimCommandLine.h"

#include <charconv>

#include "sim/SimProfile.h"

namespace SimCommandLine {
namespace {

Parsed failure(std::string error) { return {std::nullopt, false, std::move(error)}; }

}  // namespace

Parsed parse(const std::vector<std::string>& arguments) {
    SimOptions options;
    options.profile = std::string(kSimDefaultProfile);
    bool haveRoot = false;
    bool haveProfile = false;
    bool haveTick = false;
    bool haveLayout = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        if (name == "--help" || name == "-h") return {std::nullopt, true, {}};
        if (name == "--fan-control") {
            if (options.fanControl) return failure("--fan-control given twice");
            options.fanControl = true;
            continue;
        }
        std::optional<std::string> value;
        if (const auto equals = name.find('=');
            name.starts_with("--") && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (name != "--root" && name != "--profile" && name != "--tick-ms" && name != "--layout") {
            return failure("unknown argument \"" + arguments[i] + "\"");
        }
        if (!value) {
            if (i + 1 >= arguments.size()) return failure(name + " needs a value");
            value = arguments[++i];
        }
        if (name == "--root") {
            if (haveRoot) return failure("--root given twice");
            haveRoot = true;
            if (value->empty()) return failure("--root needs a directory");
            options.root = std::filesystem::path(*value).lexically_normal();
            if (options.root == "/" || options.root == "//") {
                return failure("--root must not be \"/\": the simulator writes files under it");
            }
        } else if (name == "--profile") {
            if (haveProfile) return failure("--profile given twice");
            haveProfile = true;
            if (value->empty()) return failure("--profile needs a name or a file");
            options.profile = *value;
        } else if (name == "--layout") {
            if (haveLayout) return failure("--layout given twice");
            haveLayout = true;
            options.layout = simLayoutNamed(*value);
            if (!options.layout) {
                return failure(
                    "--layout must be \"socket\", \"applesmc\" or \"macsmc_hwmon\", not \"" +
                    *value + "\"");
            }
        } else {
            if (haveTick) return failure("--tick-ms given twice");
            haveTick = true;
            int tick = 0;
            const auto [end, code] =
                std::from_chars(value->data(), value->data() + value->size(), tick);
            if (code != std::errc() || end != value->data() + value->size() || tick < 10 ||
                tick > 60000) {
                return failure(
                    "--tick-ms needs a whole number of milliseconds from 10 to 60000, not \"" +
                    *value + "\"");
            }
            options.tickMs = tick;
        }
    }
    if (!haveRoot) return failure("--root DIR is required");
    return {options, false, {}};
}

std::string usage() {
    std::string names;
    for (const std::string& name : SimProfile::builtinNames()) {
        names += "  " + name + (name == kSimDefaultProfile ? " (default)" : "") + "\n";
    }
    return "usage: tarnwick-sim --root DIR [--profile NAME|FILE] [--tick-ms N] [--layout NAME]\n"
           "       [--fan-control]\n"
           "Turns DIR into a simulated Mac until SIGTERM or SIGINT: the SMC socket\n"
           "DIR/run/tarnwick-sim/smc.sock, hwmon and power_supply under DIR/sys, "
           "DIR/proc/cpuinfo,\n"
           "control.json (read) and state.json (written) in DIR/run/tarnwick-sim.\n"
           "--tick-ms: model step and file refresh interval, 10 to 60000 (default 250).\n"
           "--layout: where the SMC is published: \"socket\", \"applesmc\" (the kernel\n"
           "driver's files in DIR/sys/devices/platform/applesmc.768) or \"macsmc_hwmon\" (the\n"
           "Apple-silicon driver's fan and temperature files in a DIR/sys/class/hwmon folder);\n"
           "default: the profile's. --fan-control: macsmc_hwmon's module option fan_control\n"
           "(fanN_target writable); off by default, as in the kernel.\n"
           "Built-in profiles:\n" +
           names;
}

}  // namespace SimCommandLine
