#include <cstdio>
#include <cstring>

#include "tarnwickd/Daemon.h"

namespace {

constexpr const char* kHelp =
    "usage: tarnwickd [--help | --version]\n"
    "\n"
    "The tarnwick fan-control daemon. systemd runs it as root (unit tarnwickd.service) once fan\n"
    "control is installed; it is not started by hand. Every two seconds it reads the settings\n"
    "(/var/lib/tarnwick/config.json), the temperatures and the fans, drives the fans when they\n"
    "need more speed than the firmware gives them and writes /run/tarnwick/status.json.\n"
    "SIGTERM, SIGINT or SIGHUP hand the fans back to the firmware and stop it.\n"
    "\n"
    "Exit status: 0 after a stop that handed the fans back, 1 without an SMC or when another\n"
    "daemon runs, 2 for a misuse, 3 after a stop that could not hand every fan back.\n"
    "See tarnwickd(8).\n";

}  // namespace

// Options are looked at before anything touches the SMC: asking for help must never take the fans.
int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        return std::fputs(kHelp, stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        return std::printf("tarnwickd %s\n", TARNWICK_VERSION) > 0 && std::fflush(stdout) == 0 ? 0
                                                                                               : 1;
    }
    if (argc > 1) {
        std::fprintf(stderr,
                     "tarnwickd: unexpected argument '%s'\nusage: tarnwickd [--help | --version]\n",
                     argv[1]);
        return 2;
    }
    return Daemon::run();
}
