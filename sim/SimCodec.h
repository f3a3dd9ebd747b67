#pragma once

// The simulated SMC's own value codec: key and type codes, and numbers to and from the bytes of
// every type the simulated machines publish. It is deliberately independent of the client's codec
// so that a mistake on one side shows up as a test failure instead of cancelling out.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace SimCodec {

// Packs up to four characters most significant first, padding with spaces.
uint32_t pack(std::string_view text);

// The key or type text as the tables store it: the first four characters, padded with spaces.
std::string name(std::string_view text);

// The four characters of `code`, most significant first (NUL bytes included as they are).
std::string unpack(uint32_t code);

// Whether `text` is a valid key or type name: 1 to 4 printable ASCII characters.
bool validName(std::string_view text);

// The byte count a type's values take ("flt " 4, "sp78" 2, ...); 0 for types of no fixed size.
uint32_t naturalSize(std::string_view type);

// The decoded number, or none when the type is not numeric or `bytes` is not its natural size.
std::optional<double> decode(std::string_view type, std::span<const uint8_t> bytes);

// Encodes `value` into `out` (which must have the type's natural size), rounding to the nearest
// representable value (halves away from zero) and clamping to the type's range; false for a
// non-numeric type, a wrong size or a value that is not finite.
bool encode(std::string_view type, double value, std::span<uint8_t> out);

// Bytes from hex pairs separated by optional spaces ("00 80 e5 44"); none on any other text.
std::optional<std::vector<uint8_t>> parseHex(std::string_view text);

// Lower-case hex pairs separated by spaces.
std::string hex(std::span<const uint8_t> bytes);

}  // namespace SimCodec
