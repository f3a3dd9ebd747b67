#include "CSMC/CpuBrand.h"

#include <optional>

#include "CSMC/Utf8.h"
#include "CSMC/linux/SysfsFile.h"

namespace CpuBrand {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "M3", "M3 Pro", "M1 Ultra": the chip item of an Apple model's parenthesised list.
bool namesChip(std::string_view item) {
    return item.size() >= 2 && item[0] == 'M' && isDigit(item[1]);
}

}  // namespace

std::string fromCpuinfo(std::string_view cpuinfo) {
    while (!cpuinfo.empty()) {
        const auto end = cpuinfo.find('\n');
        const std::string_view line = cpuinfo.substr(0, end);
        cpuinfo = end == std::string_view::npos ? std::string_view() : cpuinfo.substr(end + 1);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        if (SysfsFile::trim(line.substr(0, colon)) != "model name") continue;
        return std::string(SysfsFile::trim(line.substr(colon + 1)));
    }
    return {};
}

std::string fromDeviceTreeModel(std::string_view model) {
    // The property is a NUL-terminated string.
    model = model.substr(0, model.find('\0'));
    model = SysfsFile::trim(model);
    const auto open = model.find('(');
    const auto close = model.find(')', open == std::string_view::npos ? 0 : open);
    if (open != std::string_view::npos && close != std::string_view::npos) {
        std::string_view items = model.substr(open + 1, close - open - 1);
        while (!items.empty()) {
            const auto comma = items.find(',');
            const std::string_view item = SysfsFile::trim(items.substr(0, comma));
            if (namesChip(item)) return "Apple " + std::string(item);
            if (comma == std::string_view::npos) break;
            items.remove_prefix(comma + 1);
        }
    }
    return std::string(model);
}

std::string read(const std::filesystem::path& root) {
    // cpuinfo grows with the number of cores; the first processor's block is near the start.
    if (const auto cpuinfo = SysfsFile::read(root / "proc/cpuinfo", 64 * 1024)) {
        std::string brand = fromCpuinfo(*cpuinfo);
        if (!brand.empty()) return Utf8::sanitize(brand);
    }
    for (const char* path : {"proc/device-tree/model", "sys/firmware/devicetree/base/model"}) {
        if (const auto model = SysfsFile::read(root / path)) {
            std::string brand = fromDeviceTreeModel(*model);
            if (!brand.empty()) return Utf8::sanitize(brand);
        }
    }
    return {};
}

}  // namespace CpuBrand
