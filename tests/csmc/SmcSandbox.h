#pragma once

#include "CSMC/transport.h"
#include "support/Files.h"
#include "support/TempRoot.h"

using support::readText;
using support::writeText;

// A sandbox root for one test, and the SMC connection forgotten on the way in and out, so no test
// sees another's transport or the real machine's SMC.
class SmcSandbox : public support::TempRoot {
  public:
    SmcSandbox() : TempRoot({}, "csmc") { smc_set_transport_factory({}); }
    ~SmcSandbox() {
        smc_set_transport_factory([] { return SmcOpenResult{-1, nullptr}; });
    }
    SmcSandbox(const SmcSandbox&) = delete;
    SmcSandbox& operator=(const SmcSandbox&) = delete;
};
