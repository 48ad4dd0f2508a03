#include "valdor/production/result.h"

#include "valdor/production/recipe.h"

namespace valdor {

const char *outcomeText(Outcome outcome) {
    switch (outcome) {
        case Outcome::Pass: return "PASS";
        case Outcome::Fail: return "FAIL";
        case Outcome::Error: return "ERROR";
        case Outcome::Timeout: return "TIMEOUT";
        case Outcome::Aborted: return "ABORTED";
        case Outcome::Skipped: return "SKIPPED";
    }
    return "ERROR";
}

void StepResult::begin(std::chrono::system_clock::time_point now) {
    outcome = Outcome::Pass;
    start = now;
    seconds = 0;
    expectations.clear();
    message.clear();
}

bool StepResult::stopped() const {
    return outcome == Outcome::Error || outcome == Outcome::Timeout || outcome == Outcome::Aborted;
}

void StepResult::judged(ExpectationRecord record) {
    expectations.push_back(std::move(record));
    if (expectations.back().held || stopped()) return;
    outcome = Outcome::Fail;
    message.clear();
    for (const auto &e : expectations) {
        if (e.held) continue;
        if (!message.empty()) message += "; ";
        message += describeFailure(e);
    }
}

void StepResult::stop(Outcome why, std::string text) {
    if (stopped()) return;
    outcome = why;
    message = std::move(text);
}

UnitResult plannedUnit(std::string name, std::string port, const Recipe &recipe) {
    UnitResult unit{std::move(name), std::move(port), "", {}, recipe.teardown.has_value()};
    auto planned = [&](const RecipeStep &step) {
        StepResult r;
        r.name = step.name;
        unit.steps.push_back(std::move(r));
    };
    for (const auto &step : recipe.steps) planned(step);
    if (recipe.teardown) planned(*recipe.teardown);
    return unit;
}

bool stepRuns(const UnitResult &unit, size_t index) {
    const bool teardown = unit.hasTeardown && index + 1 == unit.steps.size();
    for (size_t i = 0; i < index && i < unit.steps.size(); ++i) {
        const Outcome o = unit.steps[i].outcome;
        if (teardown ? o == Outcome::Timeout : o != Outcome::Pass) return false;
    }
    return index < unit.steps.size();
}

const StepResult *decidingStep(const UnitResult &unit) {
    for (const auto &step : unit.steps)
        if (step.outcome != Outcome::Pass) return &step;
    return nullptr;
}

Outcome verdict(const UnitResult &unit) {
    const StepResult *step = decidingStep(unit);
    if (!step) return Outcome::Pass;
    const bool teardown = unit.hasTeardown && step == &unit.steps.back();
    return teardown && step->outcome == Outcome::Fail ? Outcome::Error : step->outcome;
}

double unitSeconds(const UnitResult &unit) {
    double sum = 0;
    for (const auto &step : unit.steps) sum += step.seconds;
    return sum;
}

int runExitStatus(std::span<const UnitResult> units) {
    for (const auto &unit : units)
        if (verdict(unit) != Outcome::Pass) return kRunNotAllPassed;
    return kRunAllPassed;
}

}  // namespace valdor
