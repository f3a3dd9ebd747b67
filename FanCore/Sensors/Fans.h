#pragma once

// The machine's fans through the SMC: counted, read, driven to one target, handed back.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FanCore/Policy/Records.h"

namespace Fans {

// Key texts hold four characters, so only fans 0 to 9 have keys of their own.
inline constexpr int64_t maxCount = 10;

// "FNum" truncated; 0 when unreadable, negative or not finite; at most maxCount.
int64_t count();
std::vector<Fan> read();  // one Fan per index, unreadable values as 0

// One Fan per index, or none when "FNum" or any fan's speed range or mode (where the mode key
// exists) cannot be read: for decisions that must not take a failed read for a zero (an
// unreadable speed or target still counts as 0).
std::optional<std::vector<Fan>> readChecked();

// The fans of `known` (as readChecked gave them) with their actual speed and mode read afresh;
// min, max and target, which only change when somebody sets them, are taken from `known`. Two
// reads per fan; none when an existing mode cannot be read (an unreadable speed reads as 0).
std::optional<std::vector<Fan>> readSpeeds(const std::vector<Fan>& known);

// Unlocks, then puts every fan in manual mode at `rpm` clamped into its own range; true when
// every mode and target write succeeded (also with no fans). A speed that is not a number drives
// the fans to their maximum; a fan whose range cannot be read gets no writes at all, one whose
// clamped target is not finite no target write, and either makes the result false, as does an
// unreadable "FNum" (nothing written then).
bool setManual(double rpm);

// The same with the fans as the caller has just read them (with readChecked or readSpeeds), so
// that a pass reads each fan once.
bool setManual(double rpm, const std::vector<Fan>& fans);

// Every fan back to automatic mode, then the unlock key back to 0; true only when every fan's
// mode then reads back automatic (also with no fans), false when any cannot be read or is not.
bool setAuto();

// Why the fans cannot be driven on this machine (a driver that refuses writes), as one line saying
// how to allow it; empty when they can be driven or there is no SMC.
std::string controlBlocked();

// The key of fan `index` with a two-letter suffix: key(0, "Ac") is "F0Ac".
std::string key(int64_t index, std::string_view suffix);

}  // namespace Fans
