#pragma once

// The SMC transport over an in-process simulated machine, for tests: install it with
// smc_set_transport_factory(SimTransport::factory(machine)).

#include <functional>
#include <memory>

#include "CSMC/transport.h"
#include "sim/SimMachine.h"

class SimTransport : public SmcTransport {
  public:
    // `machine` must outlive the transport.
    explicit SimTransport(SimMachine& machine) : machine_(machine) {}

    // The machine's answer: 0 with the reply filled, or its I/O error while that fault is set.
    int32_t call(const smc_param& request, smc_param& reply) override {
        return machine_.exchange(request, reply);
    }

    // A factory that opens a transport onto `machine` (status 0) every time it is asked.
    static std::function<SmcOpenResult()> factory(SimMachine& machine) {
        return [&machine] { return SmcOpenResult{0, std::make_unique<SimTransport>(machine)}; };
    }

  private:
    SimMachine& machine_;
};
