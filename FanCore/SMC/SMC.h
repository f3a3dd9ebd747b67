#pragma once

// Key access for the rest of the system: keys as four-character text or packed codes, failures as
// an absent value or false. Values come back exactly as the SMC stores them (°C, rpm).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace SMC {

bool open();                        // true when the connection is open
bool exists(std::string_view key);  // true when the key describes itself
// True only when the SMC answers that it has no such key; a key it could not be asked about (a
// failed exchange) may well exist.
bool missing(std::string_view key);

std::optional<double> readDouble(std::string_view key);  // decoded value, or absent
std::optional<double> readDouble(uint32_t key);

std::string name(uint32_t key);   // the key's text, up to its first NUL byte
std::vector<uint32_t> allKeys();  // every non-zero key code, in index order

// Encodes `value` for the key's own type ("flt ", "ui8 ", "ui16", "fpe2") and writes it.
bool writeNumber(std::string_view key, double value);

// Why no write can reach the machine's fans, as one line saying how to allow it; empty when writes
// may succeed or there is no SMC.
std::string writeBlocked();

}  // namespace SMC
