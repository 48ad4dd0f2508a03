// The command line of bdusim.
#pragma once

#include <string>
#include <vector>

#include "tools/bdusim/line_protocol.h"
#include "tools/bdusim/unit.h"

namespace bdusim {

struct Options {
    LineFaults faults;
    NegativeOptions negative;
    long baud = 0;
    bool traceRequests = false;
    bool traceResponses = false;
    std::string logPath;
    std::string linkPath;
    std::string replayPath;     // play a recorded session instead of the unit
    bool replayNoDelays = false;
    bool replayStopOnMismatch = false;
    bool help = false;
};

// False with a message naming the option and what is wrong with it.
bool parseOptions(const std::vector<std::string> &args, Options &options, std::string &error);

std::string helpText();

}  // namespace bdusim
