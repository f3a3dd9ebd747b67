#pragma once

// How hot the chip is, as the status item colours it.

#include <optional>

enum class Heat { normal = 0, warm = 1, hot = 2 };

// From the hottest chip temperature (°C): warm from 80, hot from 95; absent or NaN is normal.
Heat heatFor(std::optional<double> hottest);
