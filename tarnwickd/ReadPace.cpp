#include "tarnwickd/ReadPace.h"

bool ReadPace::complete(std::chrono::steady_clock::time_point now, uint64_t exchanges,
                        std::chrono::nanoseconds spent, bool known) {
    // A pass with hardly any exchanges (no fans, the SMC gone) says nothing about the bus.
    if (known) {
        slow_ = true;
    } else if (exchanges >= 4) {
        slow_ = spent >= slowExchange * static_cast<int64_t>(exchanges);
    }
    if (slow_ && lastComplete_ && now - *lastComplete_ < displayPeriod) return false;
    lastComplete_ = now;
    return true;
}
