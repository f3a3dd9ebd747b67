#include "CSMC/codec.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace {

uint16_t bigEndian16(std::span<const uint8_t, 32> b) {
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t bigEndian32(std::span<const uint8_t, 32> b) {
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

uint64_t littleEndian64(std::span<const uint8_t, 32> b) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | b[static_cast<size_t>(i)];
    return value;
}

// Halves away from zero, then into [0, max]; done in double so that no cast can overflow.
uint32_t roundClamped(double value, double max) {
    return static_cast<uint32_t>(std::clamp(std::round(value), 0.0, max));
}

SmcEncoded bigEndianBytes(uint32_t value, uint32_t length) {
    SmcEncoded out;
    out.length = length;
    for (uint32_t i = 0; i < length; ++i) {
        out.bytes[i] = static_cast<uint8_t>(value >> (8 * (length - 1 - i)));
    }
    return out;
}

}  // namespace

std::optional<double> smc_decode(uint32_t type, uint32_t size, std::span<const uint8_t, 32> bytes) {
    switch (type) {
        case SMC_TYPE_FLT: {
            if (size != 4) return std::nullopt;
            const uint32_t bits = (uint32_t{bytes[3]} << 24) | (uint32_t{bytes[2]} << 16) |
                                  (uint32_t{bytes[1]} << 8) | bytes[0];
            return static_cast<double>(std::bit_cast<float>(bits));
        }
        case SMC_TYPE_IOFT:
            if (size != 8) return std::nullopt;
            return static_cast<double>(littleEndian64(bytes)) / 65536.0;
        case SMC_TYPE_FPE2:
            if (size != 2) return std::nullopt;
            return bigEndian16(bytes) / 4.0;
        case SMC_TYPE_SP78:
            if (size != 2) return std::nullopt;
            return static_cast<int16_t>(bigEndian16(bytes)) / 256.0;
        case SMC_TYPE_UI8:
            return bytes[0];
        case SMC_TYPE_UI16:
            return bigEndian16(bytes);
        case SMC_TYPE_UI32:
            return bigEndian32(bytes);
        case SMC_TYPE_SI8:
            return static_cast<int8_t>(bytes[0]);
        case SMC_TYPE_SI16:
            return static_cast<int16_t>(bigEndian16(bytes));
        default:
            return std::nullopt;
    }
}

std::optional<SmcEncoded> smc_encode(uint32_t type, uint32_t size, double value) {
    // Callers pass fan speeds and modes; a NaN or infinity there is a bug upstream, and writing
    // it as 0 or full speed would hide it.
    if (!std::isfinite(value)) return std::nullopt;
    if (type == SMC_TYPE_FLT && size == 4) {
        if (std::fabs(value) > std::numeric_limits<float>::max()) return std::nullopt;
        const auto bits = std::bit_cast<uint32_t>(static_cast<float>(value));
        SmcEncoded out;
        out.length = 4;
        for (size_t i = 0; i < 4; ++i) out.bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
        return out;
    }
    if (type == SMC_TYPE_UI8 && size == 1) return bigEndianBytes(roundClamped(value, 255), 1);
    if (type == SMC_TYPE_UI16 && size == 2) return bigEndianBytes(roundClamped(value, 65535), 2);
    if (type == SMC_TYPE_FPE2 && size == 2) {
        return bigEndianBytes(roundClamped(value * 4, 65535), 2);
    }
    return std::nullopt;
}
