#pragma once

// The processor's brand text and Apple-silicon generation, computed once per process.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Chip {

const std::string& brand();           // empty when it cannot be obtained
std::optional<int64_t> generation();  // digits after the first "M<digit>" in the brand

// The generation rule applied to any brand text.
std::optional<int64_t> generationOf(std::string_view brand);

// Test seam: forgets the brand and generation so that the next use reads them again under the
// current sandbox root. References returned by brand() before the call must not be used after it.
void reload();

}  // namespace Chip
