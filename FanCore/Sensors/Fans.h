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

// What one look at the fans gave the daemon. `fans` holds every fan known, in index order; a
// value that could not be read is NaN (a speed or target read this time) or kept from the last
// look (a range, or a target not asked for), and a mode that could not be read is listed in
// `unknownModes` with the fan's last known mode left in place.
struct Scan {
    std::vector<Fan> fans;
    bool countRead = false;  // "FNum" answered; otherwise the fans are the ones known before
    std::vector<int64_t> unknownModes;
    bool silent = true;  // not one key answered: the SMC is gone, asleep or failing every read
};

// Which values a scan reads beside each fan's speed and mode, which every scan reads.
struct ScanParts {
    bool limits = true;   // the range and the target
    bool targets = true;  // the target alone
    bool count = true;    // "FNum"; without it the fans of `known`, which a recent scan read
};

// Reads the fans for a decision: the count ("FNum", or when it cannot be read or is not asked
// for the fans of `known` and at least `atLeast` of them), then per fan the speed, the mode where
// the mode key exists, and what `parts` asks for. A fan that `known` does not hold has its range
// read whatever `parts` says.
Scan scan(const std::vector<Fan>& known, int64_t atLeast, ScanParts parts);

// Hands the fans at `indices` back to automatic control: mode 0 to each whose mode key exists,
// then the unlock key to 0 once none of them is left in manual. A `retry` writes only the modes
// that read manual (one that cannot be read is left as it is). The indices whose mode does not
// then read back automatic (unreadable counts as not), in the order given; empty when all are
// back.
std::vector<int64_t> handBack(const std::vector<int64_t>& indices, bool retry = false);

// The indices 0 to count - 1.
std::vector<int64_t> indices(int64_t count);

// Unlocks, then puts each of `fans` (as the caller has just read them, so that a pass reads each
// fan once) in manual mode at `rpm` clamped into its own range; true when every mode and target
// write succeeded (also with no fans). A fan whose mode is not 1 gets its mode written first. A
// speed that is not a number drives the fans to their maximum; a fan whose clamped target is not
// finite gets no target write and makes the result false. A fan whose mode reads 1 and whose
// target already reads the clamped `rpm` gets no write (a target not read is NaN, and written);
// with nothing to write, the unlock key is not touched either.
bool setManual(double rpm, const std::vector<Fan>& fans);

// The target setManual writes to `fan` for `rpm`: `rpm` clamped into the fan's own range.
double clampedTarget(double rpm, const Fan& fan);

// Every fan back to automatic mode; true only when every fan's mode then reads back automatic
// (also with no fans), false when "FNum" or any mode cannot be read or is not automatic.
bool setAuto();

// Why the fans cannot be driven on this machine (a driver that refuses writes), as one line saying
// how to allow it; empty when they can be driven or there is no SMC.
std::string controlBlocked();

// The key of fan `index` with a two-letter suffix: key(0, "Ac") is "F0Ac".
std::string key(int64_t index, std::string_view suffix);

}  // namespace Fans
