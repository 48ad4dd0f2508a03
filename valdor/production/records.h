// The records of a production run, each written by its own writer from the
// one in-memory result: DIR/NAME/steps.jsonl (a line a step, synced as it
// ends), DIR/summary.csv and DIR/junit.xml (written whole, then renamed into
// place).
//
// Texts come from units and operators and may hold any byte.  Each format
// keeps valid UTF-8 as it is and writes the rest so that its readers neither
// choke nor lose the byte:
//   JSON: control characters as \b \f \n \r \t or \u00XX; a byte that is not
//         part of valid UTF-8 as \u00XX of the byte (read back, U+00XX).
//   XML and CSV: a character XML 1.0 forbids (controls other than tab, line
//         feed and carriage return, U+FFFE, U+FFFF) and a byte that is not
//         part of valid UTF-8 as the four characters \xHH, a byte at a time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rslink/core/result.h"
#include "valdor/production/result.h"

namespace valdor {

// What the records say of the run as a whole.
struct RunInfo {
    std::string station;
    std::string recipeSha256;
    std::string valdorVersion;
    double seconds = 0;  // the run's wall time
};

struct RunResult {
    RunInfo info;
    std::vector<UnitResult> units;
};

inline constexpr const char *kSummaryCsvHeader =
    "unit,port,serial,outcome,failed_step,message,seconds,station,recipe_sha256,valdor_version";

// One line of steps.jsonl, ended by "\n".
std::string stepJsonLine(const UnitResult &unit, const StepResult &step);
std::string summaryCsv(const RunResult &run);
std::string junitXml(const RunResult &run);

// A JSON string, quotes included.
std::string jsonString(std::string_view text);
// UTC, ISO 8601 to the millisecond: 2024-05-01T12:34:56.789Z.
std::string utcTimestamp(std::chrono::system_clock::time_point t);

// DIR/NAME/steps.jsonl, opened for appending (and created).  Each line is
// written whole and synced before append returns, so that a crash of the
// machine loses at most the step that was running.
class StepsFile {
public:
    explicit StepsFile(const std::string &path);
    ~StepsFile();
    StepsFile(const StepsFile &) = delete;
    StepsFile &operator=(const StepsFile &) = delete;

    // Whether the file could be opened (and its entry synced).
    const rslink::Result<> &opened() const { return opened_; }
    // A file that could not be opened fails each append as it failed.
    rslink::Result<> append(const UnitResult &unit, const StepResult &step);

private:
    std::string path_;
    int fd_ = -1;
    rslink::Result<> opened_;
};

// Brings the steps.jsonl at `path` up to `unit`, whose steps it holds the
// first lines of, in order: a last line cut short (its writer died while
// writing it) is removed, and a line for each later step is appended and
// synced.
rslink::Result<> completeStepsFile(const std::string &path, const UnitResult &unit);

// What `fd` holds up to its end, read again after an interruption.  Like
// rslink::platform::writeAll, the failure names no file.
rslink::Result<std::string> readWhole(int fd);

// Writes `content` to a temporary file beside `path`, syncs it and renames
// it over `path`, so that a reader sees the old file or the new one whole.
// The failure reads "cannot write PATH: REASON".
rslink::Result<> replaceFile(const std::string &path, std::string_view content);

}  // namespace valdor
