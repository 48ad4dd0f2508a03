// What the operator sees of a production run.  On a terminal: one line a
// unit, redrawn in place at most ten times a second, then a summary table
// and the run's folder.  Otherwise: one line at each step's end,
//   NAME<TAB>STEP<TAB>OUTCOME<TAB>MESSAGE
// and at the end the counts and the folder.  Units' message lines never
// come here: they go to each unit's session log.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "valdor/production/records.h"

namespace valdor {

// One unit as the operator's view shows it while it runs.
struct UnitRow {
    const UnitResult *unit = nullptr;
    std::optional<size_t> current;  // the step running
    double seconds = 0;             // since the unit started
    bool over = false;
};

// The text with control characters as \xHH, so that it stays one field
// of one line.
std::string oneLine(std::string_view text);
// "NAME<TAB>STEP<TAB>OUTCOME<TAB>MESSAGE".
std::string stepLine(const UnitResult &unit, const StepResult &step);
// "run: N passed, N failed, N error, N timeout, N aborted".
std::string countsLine(const std::vector<UnitResult> &units);
// What a unit's outcome is so far: its verdict once over; while it runs,
// the outcome of its first step that did not pass, PASS after steps that
// all passed, "-" before any step has ended.
std::string outcomeSoFar(const UnitRow &row);
// A heading and the units' lines, in columns, each cut to `width` characters.
std::vector<std::string> unitLines(const std::vector<UnitRow> &rows, size_t width);
// The table printed at the end on a terminal: a unit a line.
std::vector<std::string> summaryTable(const std::vector<UnitResult> &units, size_t width);

class RunView {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

    // `width`: the terminal's columns, 0 when `out` is no terminal.
    RunView(std::FILE *out, size_t width) : out_(out), width_(width) {}

    bool terminal() const { return width_ > 0; }
    // A step has ended: its line, off a terminal.
    void stepEnded(const UnitResult &unit, const StepResult &step);
    // On a terminal: the units' lines redrawn when something changed since
    // the last time, but not sooner than kRedrawEvery after it.  Returns
    // when to call again (the seconds shown tick once a second).
    Clock::time_point refresh(const std::vector<UnitRow> &rows, Clock::time_point now);
    // The end: the last state of every unit and the summary on a terminal,
    // the counts otherwise; then the run's folder.
    void finish(const std::vector<UnitRow> &rows, const std::vector<UnitResult> &units, const std::string &dir);

private:
    void draw(const std::vector<std::string> &lines);

    std::FILE *out_;
    size_t width_;
    bool changed_ = true;
    size_t drawn_ = 0;
    std::vector<std::string> shown_;
    Clock::time_point lastDraw_{};
};

}  // namespace valdor
