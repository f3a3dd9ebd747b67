#include "FanCore/Sensors/Power.h"

#include "CSMC/PowerSupply.h"
#include "CSMC/sandbox_root.h"

namespace Power {

PowerState state() {
    PowerState state;
    // Each internal battery overwrites the previous one's values; a machine without one keeps
    // the defaults even on mains, as the platform reports it.
    for (const PowerSupply::Source& source : PowerSupply::sources(SandboxRoot::root())) {
        if (!source.internalBattery) continue;
        state.onAC = source.acPower;
        state.charging = source.charging;
        state.percent = source.capacity;
    }
    return state;
}

}  // namespace Power
