#pragma once

// The seam under the SMC module: whatever stands in for the platform's SMC user client. A
// transport exchanges one 80-byte block and returns the platform status of the exchange (0 when
// it took place; the SMC's own verdict is the reply's result byte).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "CSMC/smc.h"

// Platform statuses the stand-ins report for an exchange that did not take place, modelled on the
// platform's own codes (never 0, -1 or -2, which the module gives their own meanings).
inline constexpr int32_t SMC_STATUS_IO_ERROR = static_cast<int32_t>(0xE00002CAu);
inline constexpr int32_t SMC_STATUS_NOT_RESPONDING = static_cast<int32_t>(0xE00002EDu);
inline constexpr int32_t SMC_STATUS_TIMEOUT = static_cast<int32_t>(0xE00002D6u);

class SmcTransport {
  public:
    virtual ~SmcTransport() = default;
    // 0 when the exchange took place and `reply` is filled; any other value is a platform failure.
    virtual int32_t call(const smc_param& request, smc_param& reply) = 0;
    // Why no fan write can succeed on this machine, as one line a person can act on; empty when
    // writes may succeed.
    virtual std::string writeBlocked() const { return {}; }
    // True when temperatures come through a source that rounds them to coarse steps (whole
    // quarter degrees), so that a whole value is no sign of a placeholder.
    virtual bool coarseTemperatures() const { return false; }
    // True when every exchange goes through a driver known to take milliseconds per key, whatever
    // the last exchanges took.
    virtual bool slowBus() const { return false; }
};

// Result of looking for an SMC: no service (-1 from smc_open), a service that failed to open
// (its non-zero status), or an open transport.
struct SmcOpenResult {
    int32_t status = -1;
    std::unique_ptr<SmcTransport> transport;
};

// Finds this machine's SMC: the simulated Mac's socket under the sandbox root when it exists,
// else the kernel's applesmc driver, else the macsmc_hwmon driver's fans, else none.
SmcOpenResult smc_find_transport();

// Whether the SMC smc_find_transport would choose can refuse fan writes by its driver's setup
// (macsmc_hwmon without its module option); told from the files alone, nothing opened.
bool smc_found_transport_may_block_writes();

// Test seam: replaces the lookup used by smc_open (empty function restores the default) and
// forgets any open connection, so that the next exchange opens afresh.
void smc_set_transport_factory(std::function<SmcOpenResult()> factory);
