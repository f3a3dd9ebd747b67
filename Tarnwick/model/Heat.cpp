#include "Tarnwick/model/Heat.h"

Heat heatFor(std::optional<double> hottest) {
    if (!hottest) return Heat::normal;
    if (*hottest >= 95.0) return Heat::hot;
    if (*hottest >= 80.0) return Heat::warm;
    return Heat::normal;
}
