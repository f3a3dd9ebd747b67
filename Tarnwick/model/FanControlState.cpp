#include "Tarnwick/model/FanControlState.h"

FanControlState fanControlState(bool hasFans, bool installed, const std::optional<Status>& status,
                                double now) {
    if (!hasFans) return FanControlState::noFans;
    if (!installed) return FanControlState::notInstalled;
    if (!status || !status->isFresh(now)) return FanControlState::notRunning;
    switch (status->drivenBy()) {
        case Driver::system:
            return FanControlState::system;
        case Driver::daemon:
            return FanControlState::daemon;
        case Driver::overridden:
            return FanControlState::overridden;
        case Driver::handingBack:
            return FanControlState::handingBack;
        case Driver::sleeping:
            return FanControlState::sleeping;
    }
    return FanControlState::system;
}
