#pragma once

// How much of the machine a pass reads. On a fast SMC every pass reads everything. On a slow one
// (the kernel's driver takes 8 to 33 ms per key on Intel Macs, serialised for every process) a
// pass reads what the curve, the safety speed and the status need, and what only the application
// shows (the display-only temperatures, the fans' limits and targets) once every displayPeriod.

#include <chrono>
#include <cstdint>
#include <optional>

class ReadPace {
  public:
    // An SMC whose exchanges take this long on average is slow.
    static constexpr std::chrono::microseconds slowExchange{4000};
    static constexpr std::chrono::seconds displayPeriod{10};

    // Takes the exchanges of the previous pass and the time they took, then tells whether the
    // pass starting at `now` reads everything. A bus `known` to be slow is slow whatever it took.
    bool complete(std::chrono::steady_clock::time_point now, uint64_t exchanges,
                  std::chrono::nanoseconds spent, bool known = false);

    bool slow() const { return slow_; }

  private:
    bool slow_ = false;
    std::optional<std::chrono::steady_clock::time_point> lastComplete_;
};
