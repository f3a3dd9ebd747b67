#pragma once

// How a simulated machine's SMC reaches its clients. Each layout publishes the SMC where the
// system's transports look for a real one and answers their requests from the one SimMachine.

#include <filesystem>
#include <memory>
#include <string>

#include "sim/SimMachine.h"

class SimSmcFront {
  public:
    virtual ~SimSmcFront() = default;

    // Publishes `machine` (which must outlive the front) under `root` in `layout`; null with
    // `error` when the files or the socket cannot be made. `fanControl` is macsmc_hwmon's module
    // option.
    static std::unique_ptr<SimSmcFront> open(SimLayout layout, const std::filesystem::path& root,
                                             SimMachine& machine, std::string& error,
                                             bool fanControl = false);

    // Brings what clients read up to date after the model advanced; false with `error`.
    virtual bool update(std::string& error) = 0;

    // Serves clients for at most `timeoutMs` (0: only what is ready); returns early with true as
    // soon as `wakeFd` (ignored when negative) becomes readable.
    virtual bool serve(int timeoutMs, int wakeFd) = 0;

    // Where clients find the SMC, for the start-up line.
    virtual std::string where() const = 0;
};
