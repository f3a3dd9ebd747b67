#pragma once

// The processor brand text, as the platform's "machdep.cpu.brand_string" gives it (on Linux, read
// from procfs or the device tree).

#include <filesystem>
#include <string>
#include <string_view>

namespace CpuBrand {

// The first "model name" of `root`/proc/cpuinfo; on machines without one (arm64), the device
// tree's model reduced to the chip ("Apple M3 Pro"). Valid UTF-8; empty when neither is known.
std::string read(const std::filesystem::path& root);

// The value of the first "model name" line of cpuinfo text, or empty.
std::string fromCpuinfo(std::string_view cpuinfo);

// A device-tree model such as "Apple MacBook Pro (14-inch, M3 Pro, Nov 2023)" reduced to
// "Apple M3 Pro": the first parenthesised item that names an M chip. Other models come back
// trimmed as they are.
std::string fromDeviceTreeModel(std::string_view model);

}  // namespace CpuBrand
