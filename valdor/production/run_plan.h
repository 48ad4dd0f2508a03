// What a production run is asked to do, read and checked whole before it
// creates anything: the recipe, the units and their ports, the folder.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "rslink/core/result.h"

#include "valdor/production/recipe.h"
#include "valdor/production/run_options.h"

namespace valdor {

struct RunPlan {
    std::string recipeText;
    Recipe recipe;
    std::string recipeSha256;
    std::vector<UnitEntry> units;
    std::optional<std::string> out;  // --out DIR; none: a new folder under runs/
    std::string station;
    double unitTimeout = kDefaultUnitTimeout;
};

struct PlanResult {
    enum class Kind { Ready, Refused, NothingToRetest };
    Kind kind = Kind::Ready;
    // Refused: the lines for standard error; nothing to retest: the line
    // that says so.
    std::vector<std::string> lines;
};

// Reads the command line (the words after the program's name), the recipe,
// the units files and, for a retest, the earlier run's summary; checks
// names, ports and the output folder.
PlanResult planRun(const std::vector<std::string> &words, RunPlan &plan);

// What a port opens, for telling two ports apart: the unit's device with
// its symbolic links resolved when it exists, else as it is.
std::string deviceKey(const std::string &port);

// runs/YYYYMMDD-HHMMSS, the time in UTC, under the current folder.
std::string defaultRunFolder(std::chrono::system_clock::time_point now);

// Makes the run's folder: --out DIR (with its parents), or the default
// one, with -2, -3 ... added while that is taken, so that no run is ever
// written over.  Its path.
rslink::Result<std::string> createRunFolder(const RunPlan &plan, std::chrono::system_clock::time_point now);

}  // namespace valdor
