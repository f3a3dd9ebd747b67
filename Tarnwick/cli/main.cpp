// "tarnwick": the subcommands and the report run here, in a program that loads Qt's core library
// only, so that a status bar calling "tarnwick status" every few seconds pays for no GUI
// libraries. Anything else is the tray application, started in this process's place.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "Tarnwick/cli/FrontEnd.h"
#include "Tarnwick/model/ProgramPaths.h"

int main(int argc, char** argv) {
    if (const auto handled = FrontEnd::run(argc, argv); !handled) return handled.error();
    const QString bundle = ProgramPaths::bundleDir();
    if (bundle.isEmpty()) {
        std::fputs("tarnwick: cannot tell where this program is installed (/proc/self/exe)\n",
                   stderr);
        return 1;
    }
    const std::string app = (bundle + "/" + ProgramPaths::kTrayApplication).toStdString();
    ::execv(app.c_str(), argv);
    std::fprintf(stderr, "tarnwick: cannot start the tray application %s: %s\n", app.c_str(),
                 std::strerror(errno));
    return 1;
}
