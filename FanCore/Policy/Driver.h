#pragma once

// Who holds the fans, as the daemon reports it in its status.

#include <optional>
#include <string_view>

enum class Driver {
    system,       // the system's own fan curve drives them
    daemon,       // the daemon drives them and the fans confirm it
    overridden,   // the firmware or another program took a fan the daemon was driving
    handingBack,  // the daemon is giving the fans back after a fault and checks they took it
    sleeping,     // the daemon handed the fans back for sleep and waits for the wake
};

namespace Drivers {

// The status file's text for `driver`: "system", "daemon", "overridden", "handing back",
// "sleeping".
std::string_view text(Driver driver);

// The driver with that text; absent for any other text.
std::optional<Driver> fromText(std::string_view text);

}  // namespace Drivers
