#include <sys/stat.h>

#include <memory>

#include "CSMC/linux/AppleSmcTransport.h"
#include "CSMC/linux/MacsmcHwmonTransport.h"
#include "CSMC/linux/SocketTransport.h"
#include "CSMC/sandbox_root.h"
#include "CSMC/transport.h"

namespace {

// A transport that failed to open is reported with its status, never used.
template <typename Transport>
SmcOpenResult opened(std::unique_ptr<Transport> transport) {
    const int32_t status = transport->open();
    if (status != 0) return {status, nullptr};
    return {0, std::move(transport)};
}

}  // namespace

// The simulated Mac wins when its socket exists, so a demo or test never touches a real SMC; a
// socket whose simulator has died is an SMC that fails to open, not a reason to fall through.
SmcOpenResult smc_find_transport() {
    const std::filesystem::path socketPath = SandboxRoot::under("/run/tarnwick-sim/smc.sock");
    struct stat info {};
    if (::stat(socketPath.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
        return opened(std::make_unique<SocketTransport>(socketPath));
    }
    const std::filesystem::path driver = SandboxRoot::under("/sys/devices/platform/applesmc.768");
    std::error_code error;
    if (std::filesystem::exists(driver / "key_count", error)) {
        return opened(std::make_unique<AppleSmcTransport>(driver));
    }
    if (const auto hwmon = MacsmcHwmonTransport::find(SandboxRoot::root())) {
        return opened(std::make_unique<MacsmcHwmonTransport>(
            *hwmon, SandboxRoot::under("/sys/module/macsmc_hwmon/parameters/fan_control"),
            SandboxRoot::root()));
    }
    return {-1, nullptr};
}

// The same order as smc_find_transport: only the last candidate's driver can refuse writes.
bool smc_found_transport_may_block_writes() {
    struct stat info {};
    if (::stat(SandboxRoot::under("/run/tarnwick-sim/smc.sock").c_str(), &info) == 0 &&
        S_ISSOCK(info.st_mode)) {
        return false;
    }
    std::error_code error;
    if (std::filesystem::exists(
            SandboxRoot::under("/sys/devices/platform/applesmc.768") / "key_count", error)) {
        return false;
    }
    return MacsmcHwmonTransport::find(SandboxRoot::root()).has_value();
}
