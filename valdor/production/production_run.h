// valdor --run: one recipe on many units at once, one process a unit.
// This process only starts the units, watches them, ends those past their
// time and collects what they report into the run's records.
#pragma once

#include <string>
#include <vector>

namespace valdor {

// Runs what `words` (the command line after the program's name, --run among
// them) asks for.  The operator's view goes to standard output; a refusal
// is one line on standard error (a wrong recipe: a line per error) and
// creates nothing.  Returns 0 when every unit passed, 1 when one did not or
// the run was aborted, 2 when the run could not start.
int runProduction(const std::vector<std::string> &words);

}  // namespace valdor
