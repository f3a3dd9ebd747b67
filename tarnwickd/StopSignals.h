#pragma once

// SIGTERM, SIGINT and SIGHUP taken synchronously: blocked for the whole process, so that they wait
// as pending until the loop asks for them, and the stop runs on the loop's own thread.

#include <chrono>

class StopSignals {
  public:
    // Blocks the three signals (call before any thread exists) and ignores SIGPIPE, so that a
    // vanished log reader cannot kill the daemon while it holds the fans.
    StopSignals();

    // Waits up to `timeout` for one of the three: its number, or 0 when the time ran out. A zero
    // timeout only collects a signal that is already pending.
    static int wait(std::chrono::nanoseconds timeout);

    // True when one of the three is waiting to be taken (the loop is busy elsewhere).
    static bool pending();
};
