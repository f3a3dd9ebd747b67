#include "CSMC/hid.h"

#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

#include "CSMC/Utf8.h"
#include "CSMC/linux/Hwmon.h"
#include "CSMC/linux/KeptFiles.h"
#include "CSMC/linux/sandbox_root.h"

namespace {

constexpr std::size_t kSlotBytes = 64;

}  // namespace

// Found once and kept for the life of the process, like the platform's service list. An empty
// lookup is not stored: hwmon folders that are still being populated (a driver loading, the
// simulated Mac starting) are seen by a later call.
static std::optional<std::vector<Hwmon::Service>> g_services;
// The services' inputs, read on every call.
static KeptFiles g_inputs;

int32_t hid_temperatures(char* names, double* values, int32_t max) {
    if (!g_services) {
        auto found = Hwmon::services(SandboxRoot::root());
        if (found.empty()) return 0;
        g_services = std::move(found);
    }
    if (max < 1 || names == nullptr || values == nullptr) return 0;

    int32_t filled = 0;
    for (const Hwmon::Service& service : *g_services) {
        if (filled >= max) break;
        const std::string& name = service.product;
        // The name must fit its slot with the terminator, as valid UTF-8; otherwise the service
        // takes no slot and the next one fills it.
        if (name.size() >= kSlotBytes || !Utf8::valid(name)) continue;
        const std::optional<std::string> text = g_inputs.read(service.input, 64);
        const std::optional<double> value = text ? Hwmon::parseMillidegrees(*text) : std::nullopt;
        if (!value) continue;
        char* slot = names + static_cast<std::size_t>(filled) * kSlotBytes;
        std::memcpy(slot, name.data(), name.size());
        slot[name.size()] = '\0';
        values[filled] = *value;
        ++filled;
    }
    return filled;
}

void hid_reset_services() {
    g_services.reset();
    g_inputs.clear();
}
