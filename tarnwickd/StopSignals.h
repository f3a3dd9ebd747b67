#pragma once

// SIGTERM, SIGINT and SIGHUP (stop) and SIGUSR1 and SIGUSR2 (the machine goes to sleep, wakes)
// taken synchronously: blocked for the whole process, so that they wait as pending until the loop
// asks for them, and the stop and the sleep run on the loop's own thread.

#include <chrono>
#include <csignal>

class StopSignals {
  public:
    static constexpr int sleepSignal = SIGUSR1;
    static constexpr int wakeSignal = SIGUSR2;

    // Blocks the five signals (call before any thread exists) and ignores SIGPIPE, so that a
    // vanished log reader cannot kill the daemon while it holds the fans.
    StopSignals();

    // Waits up to `timeout` for one of the five: its number, or 0 when the time ran out. A zero
    // timeout only collects a signal that is already pending.
    static int wait(std::chrono::nanoseconds timeout);

    // True for SIGTERM, SIGINT and SIGHUP.
    static bool isStop(int signal);

    // True when one of the three is waiting to be taken (the loop is busy elsewhere).
    static bool pending();
};
