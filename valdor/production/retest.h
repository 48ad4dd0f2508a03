// A retest: the units of an earlier run that did not pass, read back from
// its summary.csv, run again with the same recipe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rslink/core/result.h"

#include "valdor/production/run_options.h"

namespace valdor {

// RFC 4180: fields separated by commas, rows by CRLF (or LF), a field in
// double quotes may hold commas, line ends and "" for a quote.  Refused
// when a quote is not closed.
rslink::Result<std::vector<std::vector<std::string>>> parseCsv(std::string_view text);

// What a summary.csv says of one unit.
struct SummaryRow {
    std::string unit;
    std::string port;
    std::string outcome;
    std::string recipeSha256;
};

// The rows of a summary.csv, or a failure naming what is wrong with it.
rslink::Result<std::vector<SummaryRow>> readSummary(std::string_view text);

// The units to run again: those of `rows` that did not pass, with their
// names and ports, in their order.  `recipeSha256` must be the recipe the
// rows name; each of `newPorts` gives a unit to retest a new port.  No unit
// means nothing to retest.
rslink::Result<std::vector<UnitEntry>> unitsToRetest(const std::vector<SummaryRow> &rows,
                                                     std::string_view recipeSha256,
                                                     const std::vector<UnitEntry> &newPorts);

}  // namespace valdor
