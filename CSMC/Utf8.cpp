#include "CSMC/Utf8.h"

#include <cstddef>
#include <cstdint>

namespace Utf8 {
namespace {

// Length of the well-formed sequence at `at`, or of its maximal invalid subpart as a negative
// number (at least one byte is always consumed).
std::ptrdiff_t sequenceAt(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(bytes[i]); };
    const uint8_t lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
        return -1;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (at + k >= bytes.size()) return -static_cast<std::ptrdiff_t>(k);
        const uint8_t next = byte(at + k);
        const uint8_t min = k == 1 ? low : uint8_t{0x80};
        const uint8_t max = k == 1 ? high : uint8_t{0xBF};
        if (next < min || next > max) return -static_cast<std::ptrdiff_t>(k);
    }
    return static_cast<std::ptrdiff_t>(length);
}

}  // namespace

std::string sanitize(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::ptrdiff_t length = sequenceAt(bytes, at);
        if (length > 0) {
            out.append(bytes.substr(at, static_cast<std::size_t>(length)));
            at += static_cast<std::size_t>(length);
        } else {
            out.append("\xEF\xBF\xBD");
            at += static_cast<std::size_t>(-length);
        }
    }
    return out;
}

bool valid(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::ptrdiff_t length = sequenceAt(bytes, at);
        if (length < 0) return false;
        at += static_cast<std::size_t>(length);
    }
    return true;
}

}  // namespace Utf8
