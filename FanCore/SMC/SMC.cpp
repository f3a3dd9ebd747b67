#include "FanCore/SMC/SMC.h"

#include <algorithm>
#include <cstring>

#include "CSMC/Utf8.h"
#include "CSMC/codec.h"
#include "CSMC/smc.h"

namespace SMC {
namespace {

uint32_t pack(std::string_view key) { return smc_fourcc_n(key.data(), key.size()); }

}  // namespace

bool open() { return smc_open() == 0; }

bool exists(std::string_view key) {
    smc_info info;
    return smc_key_info(pack(key), &info) == 0;
}

bool missing(std::string_view key) {
    smc_info info;
    return smc_key_info(pack(key), &info) == SmcResult::keyNotFound;
}

std::optional<double> readDouble(std::string_view key) { return readDouble(pack(key)); }

std::optional<double> readDouble(uint32_t key) {
    double value = 0;
    if (smc_read_double(key, &value) == 0) return std::nullopt;
    return value;
}

std::string name(uint32_t key) {
    char text[5];
    smc_fourcc_str(key, text);
    return Utf8::sanitize(std::string_view(text, std::strlen(text)));
}

std::vector<uint32_t> allKeys() {
    const uint32_t count = smc_key_count();
    std::vector<uint32_t> keys;
    if (count == 0) return keys;
    // "#KEY" is only a claim: a garbled count must cost neither memory nor billions of exchanges.
    constexpr uint32_t kLikelyKeys = 4096;
    constexpr int kGiveUpAfter = 64;
    keys.reserve(std::min(count, kLikelyKeys));
    int failures = 0;
    for (uint32_t index = 0; index < count && failures < kGiveUpAfter; ++index) {
        const uint32_t key = smc_key_at_index(index);
        failures = key != 0 ? 0 : failures + 1;
        if (key != 0) keys.push_back(key);
    }
    return keys;
}

bool writeNumber(std::string_view key, double value) {
    const uint32_t code = pack(key);
    smc_info info;
    if (smc_key_info(code, &info) != 0) return false;
    const std::optional<SmcEncoded> encoded = smc_encode(info.data_type, info.data_size, value);
    if (!encoded) return false;
    return smc_write(code, encoded->bytes.data(), encoded->length) == 0;
}

std::string writeBlocked() { return smc_write_blocked(); }

}  // namespace SMC
