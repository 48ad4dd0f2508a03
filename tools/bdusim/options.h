// The command line of bdusim.
#pragma once

#include <string>
#include <vector>

#include "rslink/core/result.h"
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

// The options, or a failure (error 0) naming the option and what is wrong
// with it.
rslink::Result<Options> parseOptions(const std::vector<std::string> &args);

std::string helpText();

}  // namespace bdusim
