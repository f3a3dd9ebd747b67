#include "FanCore/Policy/Records.h"

std::optional<double> Readings::hottest() const {
    std::optional<double> result;
    for (const std::optional<double>& value : {cpu, gpu, die}) {
        if (!value) continue;
        if (!result || *value > *result) result = value;
    }
    return result;
}
