#include "sim/SimSmcFront.h"

#include "sim/SimAppleSmc.h"
#include "sim/SimServer.h"

std::unique_ptr<SimSmcFront> SimSmcFront::open(SimLayout layout, const std::filesystem::path& root,
                                               SimMachine& machine, std::string& error) {
    switch (layout) {
        case SimLayout::applesmc:
            return SimAppleSmc::publish(root, machine, error);
        case SimLayout::socket:
            break;
    }
    return SimServer::listen(root / "run/tarnwick-sim/smc.sock", machine, error);
}
