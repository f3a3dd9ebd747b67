#pragma once

// Value codecs of the SMC's type codes: raw value bytes to numbers and numbers back to the bytes
// of a writable type. Pure functions, shared by the key-access layer and the transports that
// synthesise values.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

// A four-character literal packed like a key ("flt " -> 0x666C7420), for use in constants.
consteval uint32_t smc_code(const char (&text)[5]) {
    uint32_t code = 0;
    for (int i = 0; i < 4; ++i) code = (code << 8) | static_cast<uint8_t>(text[i]);
    return code;
}

inline constexpr uint32_t SMC_TYPE_FLT = smc_code("flt ");
inline constexpr uint32_t SMC_TYPE_IOFT = smc_code("ioft");
inline constexpr uint32_t SMC_TYPE_FPE2 = smc_code("fpe2");
inline constexpr uint32_t SMC_TYPE_SP78 = smc_code("sp78");
inline constexpr uint32_t SMC_TYPE_UI8 = smc_code("ui8 ");
inline constexpr uint32_t SMC_TYPE_UI16 = smc_code("ui16");
inline constexpr uint32_t SMC_TYPE_UI32 = smc_code("ui32");
inline constexpr uint32_t SMC_TYPE_SI8 = smc_code("si8 ");
inline constexpr uint32_t SMC_TYPE_SI16 = smc_code("si16");

// The number held in `bytes` (a reply's 32-byte value area) by a key of `type` and data `size`;
// absent for an unknown type or for a fixed-size type whose size differs.
std::optional<double> smc_decode(uint32_t type, uint32_t size, std::span<const uint8_t, 32> bytes);

// Value bytes ready for a write request: `length` leading bytes of `bytes` are used.
struct SmcEncoded {
    std::array<uint8_t, 4> bytes{};
    uint32_t length = 0;
};

// `value` encoded for a key of `type` and `size` ("flt " 4, "ui8 " 1, "ui16" 2, "fpe2" 2; the
// integer types round halves away from zero, then clamp); absent for any other type or size, for a
// non-finite value, and for a "flt " value beyond single precision's range.
std::optional<SmcEncoded> smc_encode(uint32_t type, uint32_t size, double value);
