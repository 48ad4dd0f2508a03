// What a production run found: per unit, per step, the outcome, when it
// started, how long it took, the expectations judged and a message.  Every
// record of a run is written from these values, so no two can disagree.
#pragma once

#include <chrono>
#include <span>
#include <string>
#include <vector>

#include "valdor/production/expect.h"

namespace valdor {

struct Recipe;

// PASS: every expectation held.  FAIL: one did not (the unit is bad).
// ERROR: the station failed (a wait timed out, the port, the line, the
// unit's process).  TIMEOUT: the unit ran past its time.  ABORTED: the
// operator stopped the run.  SKIPPED: not run after a step that did not pass.
enum class Outcome { Pass, Fail, Error, Timeout, Aborted, Skipped };

// "PASS", "FAIL", "ERROR", "TIMEOUT", "ABORTED", "SKIPPED".
const char *outcomeText(Outcome outcome);

// Exit status of a run.
inline constexpr int kRunAllPassed = 0;
inline constexpr int kRunNotAllPassed = 1;
inline constexpr int kRunRefused = 2;

struct StepResult {
    std::string name;
    Outcome outcome = Outcome::Skipped;
    std::chrono::system_clock::time_point start{};
    double seconds = 0;
    std::vector<ExpectationRecord> expectations;
    std::string message;

    // The step starts now, as PASS until something says otherwise.
    void begin(std::chrono::system_clock::time_point now);
    // An expectation judged: one that did not hold fails the step, unless
    // it has ended worse; the message lists every one that did not hold.
    void judged(ExpectationRecord record);
    // The step ends at once with ERROR, TIMEOUT or ABORTED, which outrank
    // FAIL; a step that ended so keeps its first such outcome.
    void stop(Outcome outcome, std::string why);
    // Whether the step has ended early (ERROR, TIMEOUT or ABORTED).
    bool stopped() const;
};

struct UnitResult {
    std::string name;
    std::string port;
    std::string serial;
    std::vector<StepResult> steps;  // recipe order, the teardown last when there is one
    bool hasTeardown = false;
};

// A unit before it runs: every step of the recipe, and its teardown, SKIPPED
// until it runs.
UnitResult plannedUnit(std::string name, std::string port, const Recipe &recipe);

// Whether the step at `index` runs: every step before it passed.  The
// teardown runs whatever happened, except after a TIMEOUT (the unit's
// process is gone).
bool stepRuns(const UnitResult &unit, size_t index);

// The step that decides the verdict: the first that did not pass, else a
// teardown that did not pass; nullptr when every one passed.
const StepResult *decidingStep(const UnitResult &unit);

// The unit's verdict: the outcome of its deciding step, except that a
// teardown that failed an expectation makes a passed unit ERROR (the unit
// passed its tests; the station could not leave it as it should).
Outcome verdict(const UnitResult &unit);

double unitSeconds(const UnitResult &unit);

// kRunAllPassed when every unit passed, else kRunNotAllPassed.
int runExitStatus(std::span<const UnitResult> units);

}  // namespace valdor
