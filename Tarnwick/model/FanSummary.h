#pragma once

// What the tray and the panel show of a list of fans as a whole. Speeds that are not finite are
// never counted.

#include <vector>

#include "FanCore/Policy/Records.h"

namespace FanSummary {

// 0..1: the greatest actual/max of the fans turning at 100 rpm or more.
double speedFraction(const std::vector<Fan>& fans);
// 0..5 of the fastest fan: 0 below 100 rpm or without a usable range, else 1..5 across it.
int level(const std::vector<Fan>& fans);
// The greatest speed; 0 without fans.
double topRPM(const std::vector<Fan>& fans);
// The greatest minimum; 1000 without fans.
double minRPM(const std::vector<Fan>& fans);
// The smallest maximum; 6000 without fans.
double maxRPM(const std::vector<Fan>& fans);
// A fan is in manual control.
bool anyManual(const std::vector<Fan>& fans);

}  // namespace FanSummary
