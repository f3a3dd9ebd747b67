#include "sim/SimSmcFront.h"

#include "sim/SimAppleSmc.h"
#include "sim/SimMacsmcHwmon.h"
#include "sim/SimServer.h"

std::unique_ptr<SimSmcFront> SimSmcFront::open(SimLayout layout, const std::filesystem::path& root,
                                               SimMachine& machine, std::string& error,
                                               bool fanControl) {
    switch (layout) {
        case SimLayout::applesmc:
            return SimAppleSmc::publish(root, machine, error);
        case SimLayout::macsmc_hwmon:
            return SimMacsmcHwmon::publish(root, machine, fanControl, error);
        case SimLayout::socket:
            break;
    }
    return SimServer::listen(root / "run/tarnwick-sim/smc.sock", machine, error);
}
