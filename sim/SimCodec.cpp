#include "sim/SimCodec.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>

namespace SimCodec {
namespace {

uint64_t bigEndian(std::span<const uint8_t> bytes) {
    uint64_t value = 0;
    for (uint8_t byte : bytes) value = (value << 8) | byte;
    return value;
}

uint64_t littleEndian(std::span<const uint8_t> bytes) {
    uint64_t value = 0;
    for (size_t i = bytes.size(); i > 0; --i) value = (value << 8) | bytes[i - 1];
    return value;
}

void putBigEndian(uint64_t value, std::span<uint8_t> out) {
    for (size_t i = out.size(); i > 0; --i) {
        out[i - 1] = static_cast<uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

void putLittleEndian(uint64_t value, std::span<uint8_t> out) {
    for (uint8_t& byte : out) {
        byte = static_cast<uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

// Rounds halves away from zero and clamps into [low, high] after rounding.
double roundClamp(double value, double low, double high) {
    return std::clamp(std::round(value), low, high);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

uint32_t pack(std::string_view text) {
    uint32_t code = 0;
    for (size_t i = 0; i < 4; ++i) {
        const char c = i < text.size() && text[i] != '\0' ? text[i] : ' ';
        code = (code << 8) | static_cast<uint8_t>(c);
    }
    return code;
}

std::string name(std::string_view text) { return unpack(pack(text)); }

std::string unpack(uint32_t code) {
    std::string text(4, ' ');
    for (size_t i = 0; i < 4; ++i) text[i] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
    return text;
}

bool validName(std::string_view text) {
    if (text.empty() || text.size() > 4) return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

uint32_t naturalSize(std::string_view type) {
    if (type == "flt " || type == "ui32") return 4;
    if (type == "ioft") return 8;
    if (type == "fpe2" || type == "sp78" || type == "ui16" || type == "si16") return 2;
    if (type == "ui8 " || type == "si8 " || type == "flag") return 1;
    return 0;
}

std::optional<double> decode(std::string_view type, std::span<const uint8_t> bytes) {
    const uint32_t size = naturalSize(type);
    if (size == 0 || bytes.size() != size) return std::nullopt;
    if (type == "flt ") {
        return static_cast<double>(
            std::bit_cast<float>(static_cast<uint32_t>(littleEndian(bytes))));
    }
    if (type == "ioft") return static_cast<double>(littleEndian(bytes)) / 65536.0;
    if (type == "fpe2") return static_cast<double>(bigEndian(bytes)) / 4.0;
    if (type == "sp78") {
        return static_cast<double>(static_cast<int16_t>(bigEndian(bytes))) / 256.0;
    }
    if (type == "si16") return static_cast<double>(static_cast<int16_t>(bigEndian(bytes)));
    if (type == "si8 ") return static_cast<double>(static_cast<int8_t>(bytes[0]));
    return static_cast<double>(bigEndian(bytes));  // ui8, ui16, ui32, flag
}

bool encode(std::string_view type, double value, std::span<uint8_t> out) {
    const uint32_t size = naturalSize(type);
    if (size == 0 || out.size() != size || !std::isfinite(value)) return false;
    if (type == "flt ") {
        const auto single =
            static_cast<float>(std::clamp(value, -double{FLT_MAX}, double{FLT_MAX}));
        putLittleEndian(std::bit_cast<uint32_t>(single), out);
    } else if (type == "ioft") {
        // 2^64 is not representable below itself in a double; stop one binade short.
        const double scaled = roundClamp(value * 65536.0, 0.0, 0x1p63);
        putLittleEndian(static_cast<uint64_t>(scaled), out);
    } else if (type == "fpe2") {
        putBigEndian(static_cast<uint64_t>(roundClamp(value * 4.0, 0.0, 65535.0)), out);
    } else if (type == "sp78") {
        const auto raw = static_cast<int16_t>(roundClamp(value * 256.0, -32768.0, 32767.0));
        putBigEndian(static_cast<uint16_t>(raw), out);
    } else if (type == "si16") {
        const auto raw = static_cast<int16_t>(roundClamp(value, -32768.0, 32767.0));
        putBigEndian(static_cast<uint16_t>(raw), out);
    } else if (type == "si8 ") {
        const auto raw = static_cast<int8_t>(roundClamp(value, -128.0, 127.0));
        out[0] = static_cast<uint8_t>(raw);
    } else if (type == "flag") {
        out[0] = value != 0.0 ? 1 : 0;
    } else {
        const double high = std::ldexp(1.0, static_cast<int>(8 * size)) - 1.0;
        putBigEndian(static_cast<uint64_t>(roundClamp(value, 0.0, high)), out);
    }
    return true;
}

std::optional<std::vector<uint8_t>> parseHex(std::string_view text) {
    std::vector<uint8_t> bytes;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size()) return std::nullopt;
        const int high = hexDigit(text[i]);
        const int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        i += 2;
    }
    return bytes;
}

std::string hex(std::span<const uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : bytes) {
        if (!text.empty()) text += ' ';
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

}  // namespace SimCodec
