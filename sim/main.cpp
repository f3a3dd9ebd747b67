#include <cstdio>
#include <string>
#include <vector>

#include "sim/SimCommandLine.h"
#include "sim/SimProgram.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const SimCommandLine::Parsed parsed = SimCommandLine::parse(arguments);
    if (parsed.help) {
        std::fputs(SimCommandLine::usage().c_str(), stdout);
        return 0;
    }
    if (!parsed.options) {
        std::fprintf(stderr, "tarnwick-sim: %s\n%s", parsed.error.c_str(),
                     SimCommandLine::usage().c_str());
        return 2;
    }
    return SimProgram::run(*parsed.options);
}
