#pragma once

// Damps the chip temperatures from pass to pass: rises followed at 0.3, falls at 0.15.

#include <optional>

#include "FanCore/Policy/Records.h"

struct ReadingsSmoother {
    std::optional<double> cpu;
    std::optional<double> gpu;
    std::optional<double> die;

    // Updates the stored chip values and returns the readings to use.
    Readings apply(const Readings& incoming);
};
