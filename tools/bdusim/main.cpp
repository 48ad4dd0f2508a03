// bdusim: a simulated bill dispenser unit on a pseudo-terminal (see --help).
#include <cstdio>
#include <string>
#include <vector>

#include "tools/bdusim/options.h"
#include "tools/bdusim/simulator.h"

int main(int argc, char **argv) {
    const auto options = bdusim::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!options) {
        std::fprintf(stderr, "bdusim: %s\n", options.failure().why.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(bdusim::helpText().c_str(), stdout);
        return 0;
    }
    bdusim::Simulator simulator(*options);
    if (const auto started = simulator.start(); !started) {
        std::fprintf(stderr, "bdusim: %s\n", started.failure().why.c_str());
        return 1;
    }
    // The first line of standard output is the terminal's path.
    std::printf("%s\n", simulator.path().c_str());
    std::fflush(stdout);
    return simulator.run();
}
