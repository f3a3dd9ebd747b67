#pragma once

// A transport that records every request and answers through a function the test gives, for the
// rules of the block protocol that need no SMC behind them.

#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "CSMC/transport.h"

struct Recording {
    std::vector<smc_param> requests;
    int opens = 0;
    // Answers a request; returns the platform status. Default: every key unknown.
    std::function<int32_t(const smc_param&, smc_param&)> answer = [](const smc_param&,
                                                                     smc_param& reply) {
        reply.result = SmcResult::keyNotFound;
        return 0;
    };
    int32_t openStatus = 0;  // what the factory reports; non-zero: no transport

    std::function<SmcOpenResult()> factory() {
        return [this] {
            ++opens;
            if (openStatus != 0) return SmcOpenResult{openStatus, nullptr};
            return SmcOpenResult{0, std::make_unique<Transport>(*this)};
        };
    }

    class Transport : public SmcTransport {
      public:
        explicit Transport(Recording& recording) : recording_(recording) {}
        int32_t call(const smc_param& request, smc_param& reply) override {
            recording_.requests.push_back(request);
            return recording_.answer(request, reply);
        }

      private:
        Recording& recording_;
    };
};

// The block as the bytes that travel.
inline std::vector<uint8_t> wire(const smc_param& block) {
    std::vector<uint8_t> bytes(sizeof block);
    std::memcpy(bytes.data(), &block, sizeof block);
    return bytes;
}

inline uint32_t littleEndianAt(const std::vector<uint8_t>& bytes, size_t offset) {
    return uint32_t{bytes[offset]} | (uint32_t{bytes[offset + 1]} << 8) |
           (uint32_t{bytes[offset + 2]} << 16) | (uint32_t{bytes[offset + 3]} << 24);
}
