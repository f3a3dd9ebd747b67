#pragma once

// The tarnwick-sim process: the machine, its socket and its files, ticking until a stop signal.

#include "sim/SimCommandLine.h"

namespace SimProgram {

// Serves the simulated machine under options.root until SIGTERM or SIGINT arrives (taken
// synchronously through a signalfd), then removes the socket. 0 after such a stop; 1 with a
// message on standard error when the profile cannot be loaded or the root cannot be set up.
int run(const SimOptions& options);

}  // namespace SimProgram
