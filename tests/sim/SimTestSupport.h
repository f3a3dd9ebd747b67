#pragma once

// Helpers shared by the simulated Mac's tests: request blocks and small profiles; temporary
// folders and file helpers come from support/.

#include <cstring>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "CSMC/smc.h"
#include "sim/SimCodec.h"
#include "sim/SimMachine.h"
#include "sim/SimProfile.h"
#include "support/FanKeys.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace simtest {

inline smc_param request(uint8_t command, std::string_view key = "", uint32_t size = 0,
                         std::initializer_list<uint8_t> bytes = {}) {
    smc_param block;
    std::memset(&block, 0, sizeof block);
    block.command = command;
    if (!key.empty()) block.key = SimCodec::pack(key);
    block.data_size = size;
    size_t i = 0;
    for (uint8_t byte : bytes) block.bytes[i++] = byte;
    return block;
}

inline smc_param atIndex(uint32_t index) {
    smc_param block = request(SMC_CMD_KEY_AT_INDEX);
    block.index = index;
    return block;
}

// Writes `value` encoded by the key's own type through a write exchange; the result byte, or
// -1 when the key is unknown or its type holds no number.
inline int writeNumber(SimMachine& machine, std::string_view key, double value) {
    const std::string name = SimCodec::unpack(SimCodec::pack(key));
    for (const SimKey& k : machine.profile().keys) {
        if (k.name != name) continue;
        smc_param block = request(SMC_CMD_WRITE_BYTES, key, static_cast<uint32_t>(k.bytes.size()));
        if (!SimCodec::encode(k.type, value, std::span<uint8_t>(block.bytes, k.bytes.size()))) {
            return -1;
        }
        smc_param reply;
        if (machine.exchange(block, reply) != 0) return -1;
        return reply.result;
    }
    return -1;
}

// A profile from JSON text; fails the calling test by throwing when it does not parse.
inline SimProfile profile(std::string_view json) {
    SimProfile::Loaded loaded = SimProfile::parse(json, "test");
    if (!loaded.profile) throw std::runtime_error(loaded.error);
    return *loaded.profile;
}

// A two-fan machine with an unlock key; `extraKeys` is appended to its key list.
inline std::string fanProfileJson(bool withFtst = true, std::string_view extraKeys = "") {
    std::string json = R"({"brand": "Apple M3 Pro",
        "thermal": {"ambient": 24, "load": 0.1, "heat": 70, "curve": [60, 95], "fanStop": true,
                    "fanRate": 500},
        "keys": [
        {"key": "#KEY", "type": "ui32", "value": 0},
        {"key": "FNum", "type": "ui8 ", "value": 2},)";
    if (withFtst) json += R"({"key": "Ftst", "type": "ui8 ", "value": 0, "writable": true},)";
    json += support::fanKeysJson(2, 0) + ",";
    json += R"({"key": "Tf04", "type": "flt ", "follows": "chip"},
        {"key": "TB0T", "type": "sp78", "follows": "battery", "offset": 0.5},
        {"key": "TCMz", "type": "flt ", "follows": "chip", "indexed": false},
        {"key": "RPlt", "type": "ch8*", "bytes": "6a 35 31 34 73 00 00 00"},
        {"key": "LOCK", "type": "ui8 ", "value": 7, "readable": false, "writable": true})";
    if (!extraKeys.empty()) json += std::string(",") + std::string(extraKeys);
    json += "]}";
    return json;
}

}  // namespace simtest
