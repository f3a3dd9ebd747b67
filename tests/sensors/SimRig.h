#pragma once

// A simulated Mac in process for the sensor tests: a fresh sandbox root, the machine, and the SMC
// module pointed at it. An optional hook sees every exchange after the machine answered it, so a
// test can change the machine between the reads of one operation.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CSMC/transport.h"
#include "SensorRoot.h"
#include "sim/SimMachine.h"
#include "sim/SimProfile.h"

class SimRig {
  public:
    using Hook = std::function<void(const smc_param& request, const smc_param& reply)>;

    explicit SimRig(SimProfile profile) : machine(std::move(profile)) {
        smc_set_transport_factory([this] {
            return SmcOpenResult{0, std::make_unique<HookedTransport>(*this)};
        });
    }
    explicit SimRig(std::string_view profileJson) : SimRig(parse(profileJson)) {}
    ~SimRig() { smc_set_transport_factory({}); }
    SimRig(const SimRig&) = delete;
    SimRig& operator=(const SimRig&) = delete;

    static SimProfile parse(std::string_view json) {
        SimProfile::Loaded loaded = SimProfile::parse(json, "test");
        if (!loaded.profile) {
            ADD_FAILURE() << loaded.error;
            return SimProfile{};
        }
        return *loaded.profile;
    }

    // The writes the machine logged from position `from` on, as "KEY=value" (or "KEY!" when the
    // SMC refused the write).
    std::vector<std::string> writesSince(std::size_t from) const {
        std::vector<std::string> out;
        const auto& writes = machine.writes();
        for (std::size_t i = from; i < writes.size(); ++i) {
            const SimWrite& write = writes[i];
            std::string text = write.key;
            while (!text.empty() && text.back() == ' ') text.pop_back();
            if (write.result != 0) {
                out.push_back(text + "!");
                continue;
            }
            char value[64];
            std::snprintf(value, sizeof value, "%g", write.value.value_or(-999));
            out.push_back(text + "=" + value);
        }
        return out;
    }

    SensorRoot root;
    SimMachine machine;
    Hook hook;

  private:
    class HookedTransport : public SmcTransport {
      public:
        explicit HookedTransport(SimRig& rig) : rig_(rig) {}
        int32_t call(const smc_param& request, smc_param& reply) override {
            const int32_t status = rig_.machine.exchange(request, reply);
            if (rig_.hook) rig_.hook(request, reply);
            return status;
        }

      private:
        SimRig& rig_;
    };
};
