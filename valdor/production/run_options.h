// The command line of a production run and the units it names:
//   valdor --run RECIPE --unit [NAME=]PORT [--unit ...] [--units FILE]
//          [--out DIR] [--station NAME] [--unit-timeout SECONDS] [--retest DIR]
// Everything here is checked before anything is created, so that a refused
// run leaves no trace.  A failure (error 0) names the culprit and carries no
// "valdor: ".
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rslink/core/result.h"

namespace valdor {

inline constexpr double kDefaultUnitTimeout = 600;

// A unit as the operator names it: NAME, and PORT as written (COM<n>, a
// device path, or an address).
struct UnitEntry {
    std::string name;
    std::string port;
    bool named = false;  // NAME was given, not derived from PORT
};

struct RunOptions {
    std::string recipe;
    std::vector<UnitEntry> units;           // --unit, in order
    std::vector<std::string> unitsFiles;   // --units
    std::optional<std::string> out;
    std::optional<std::string> station;
    double unitTimeout = kDefaultUnitTimeout;
    std::optional<std::string> retest;
};

// The words after the program's name, --run among them.  Options take their
// value as the next word or after '='.
rslink::Result<RunOptions> parseRunArguments(const std::vector<std::string> &words);

// Letters, digits, '-', '_' and '.', and not "." or ".." alone.
bool validUnitName(std::string_view name);

// PORT's last path component (or COMn), every character a name may not
// hold made '_'.
std::string nameFromPort(std::string_view port);

// "[NAME=]PORT": NAME is what comes before the first '=', when that holds
// no '/'.
rslink::Result<UnitEntry> parseUnitWord(std::string_view word);

// A units file: one "NAME PORT" a line, blank lines and lines starting
// with '#' skipped.  Failures read "FILE line N: ...".
rslink::Result<std::vector<UnitEntry>> parseUnitsFile(std::string_view text, const std::string &file);

// Refuses the same NAME twice, or the same port twice: as written, or as
// the device `device` says each opens.
rslink::Result<> checkDistinct(const std::vector<UnitEntry> &units,
                               const std::function<std::string(const std::string &)> &device);

}  // namespace valdor
