// One unit of a production run, in a process of its own: the console on an
// in-memory panel, the unit's PORT as its COM1, the recipe's steps run one
// after the other, each step's start and end told to the run over a pipe.
#pragma once

#include <chrono>
#include <string>

#include "valdor/production/recipe.h"

namespace valdor {

// How long the teardown may take once the run is aborted, counted from the
// abort.
inline constexpr std::chrono::seconds kAbortTeardownBound{5};

struct UnitJob {
    const Recipe *recipe = nullptr;
    std::string name;
    std::string port;    // as the operator wrote it, for the records
    std::string device;  // what its COM1 opens
    std::string folder;  // DIR/NAME: its session.log and line.rslcap
};

// Runs in the unit's process, forked by the run before it started any
// thread.  Events go to `report` (see unit_report.h).  An abort comes as
// `control` turning readable: the name of the signal, then its end; an end
// with nothing before it means the run has gone.  Returns the process's
// exit status.
int runUnit(const UnitJob &job, int report, int control);

}  // namespace valdor
