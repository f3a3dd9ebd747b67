#include "CSMC/hid.h"

#include <chrono>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "CSMC/Utf8.h"
#include "CSMC/linux/Hwmon.h"
#include "CSMC/linux/KeptFiles.h"
#include "CSMC/sandbox_root.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kSlotBytes = 64;

// udev creates coretemp, nvme and amdgpu devices within seconds of their modules loading, which
// may be after the first lookup; later a device only re-registers (a driver reloaded, a resume).
// While a role is missing the folders are looked at often at first, then rarely.
constexpr auto kEarlyLooks = 2min;
constexpr auto kEarlyInterval = 2s;
constexpr auto kLateInterval = 30s;

// The services found and when they were looked for. Kept for the life of the process, like the
// platform's service list; looked for again while a role is missing and when an input vanishes.
struct Found {
    std::vector<Hwmon::Service> services;
    std::string layout;  // Hwmon::layout when the services were listed
    bool complete = false;
    Clock::time_point first;
    Clock::time_point last;
};

std::optional<Found> g_found;
// The services' inputs, read on every call.
KeptFiles g_inputs;
Clock::duration g_clockOffset{};  // test seam

Clock::time_point now() { return Clock::now() + g_clockOffset; }

// Lists the services afresh under `layout`, the folders as they are now; false when there are none
// (folders still being populated by a driver loading or the simulated Mac starting), which is not
// stored so that the next call looks again.
bool list(const std::filesystem::path& root, Clock::time_point at, std::string layout) {
    auto services = Hwmon::services(root);
    if (services.empty()) return false;
    if (!g_found) g_found.emplace().first = at;
    g_found->last = at;
    g_found->complete = Hwmon::hasEveryRole(services);
    g_found->services = std::move(services);
    g_found->layout = std::move(layout);
    // Inputs of devices that went away are not read again.
    g_inputs.clear();
    return true;
}

// While a role is missing, compares the folders with what was listed, when that is due, and lists
// the services again when they differ.
void lookForLateDevices(const std::filesystem::path& root) {
    if (g_found->complete) return;
    const Clock::time_point at = now();
    const auto interval = at - g_found->first < kEarlyLooks ? kEarlyInterval : kLateInterval;
    if (at - g_found->last < interval) return;
    g_found->last = at;
    if (std::string layout = Hwmon::layout(root); layout != g_found->layout) {
        list(root, at, std::move(layout));
    }
}

// Fills the slots from the kept services; `vanished` tells whether an input's file is gone.
int32_t fill(char* names, double* values, int32_t max, bool& vanished) {
    int32_t filled = 0;
    for (const Hwmon::Service& service : g_found->services) {
        if (filled >= max) break;
        const std::string& name = service.product;
        // The name must fit its slot with the terminator, as valid UTF-8; otherwise the service
        // takes no slot and the next one fills it.
        if (name.size() >= kSlotBytes || !Utf8::valid(name)) continue;
        const std::optional<std::string> text = g_inputs.read(service.input, 64);
        const std::optional<double> value = text ? Hwmon::parseMillidegrees(*text) : std::nullopt;
        if (!value) {
            // A sensor that is asleep answers with an error; a device that re-registered under
            // another number leaves no file behind.
            std::error_code error;
            if (!text && !std::filesystem::exists(service.input, error)) vanished = true;
            continue;
        }
        char* slot = names + static_cast<std::size_t>(filled) * kSlotBytes;
        std::memcpy(slot, name.data(), name.size());
        slot[name.size()] = '\0';
        values[filled] = *value;
        ++filled;
    }
    return filled;
}

}  // namespace

int32_t hid_temperatures(char* names, double* values, int32_t max) {
    const std::filesystem::path root = SandboxRoot::root();
    if (!g_found) {
        if (!list(root, now(), Hwmon::layout(root))) return 0;
    } else {
        lookForLateDevices(root);
    }
    if (max < 1 || names == nullptr || values == nullptr) return 0;

    bool vanished = false;
    const int32_t filled = fill(names, values, max, vanished);
    // A vanished input is looked for at once, at most once per interval, so that a device that
    // moved costs no reading.
    const Clock::time_point at = now();
    if (!vanished || at - g_found->last < kEarlyInterval) return filled;
    g_found->last = at;
    if (!list(root, at, Hwmon::layout(root))) return filled;
    vanished = false;
    return fill(names, values, max, vanished);
}

void hid_reset_services() {
    g_found.reset();
    g_inputs.clear();
    g_clockOffset = {};
}

void hid_advance_clock(int32_t milliseconds) {
    g_clockOffset += std::chrono::milliseconds(milliseconds);
}
