// The outcome of a step, which steps run, and a unit's verdict.
#include <gtest/gtest.h>

#include "valdor/production/recipe.h"
#include "valdor/production/result.h"

using namespace valdor;

namespace {

ExpectationRecord record(bool held) { return {"1201", "==", "0000", held ? "0000" : "0012", held}; }

// A unit of three steps and a teardown, with the outcomes given in order.
UnitResult unitWith(std::initializer_list<Outcome> outcomes, bool teardown = true) {
    Recipe r = parseRecipe(std::string("step \"a\"\nstep \"b\"\nstep \"c\"\n") + (teardown ? "teardown\n" : ""));
    UnitResult unit = plannedUnit("u", "COM1", r);
    size_t i = 0;
    for (Outcome o : outcomes) unit.steps.at(i++).outcome = o;
    return unit;
}

}  // namespace

TEST(StepOutcome, FailedExpectationsFailTheStepAndAreAllListed) {
    StepResult step;
    step.begin({});
    step.judged(record(true));
    EXPECT_EQ(step.outcome, Outcome::Pass);
    step.judged(record(false));
    step.judged(record(true));
    step.judged(record(false));
    EXPECT_EQ(step.outcome, Outcome::Fail);
    EXPECT_EQ(step.message, describeFailure(record(false)) + "; " + describeFailure(record(false)));
}

TEST(StepOutcome, AnErrorOutranksAFailureAndTheFirstErrorStays) {
    StepResult step;
    step.begin({});
    step.judged(record(false));
    step.stop(Outcome::Error, "line 4: wait message \"X\": timed out after 10 s");
    EXPECT_EQ(step.outcome, Outcome::Error);
    step.stop(Outcome::Aborted, "later");
    step.judged(record(false));
    EXPECT_EQ(step.outcome, Outcome::Error);
    EXPECT_EQ(step.message, "line 4: wait message \"X\": timed out after 10 s");
    EXPECT_EQ(step.expectations.size(), 2u);
}

TEST(Steps, LaterStepsAreSkippedAfterOneThatDidNotPassTheTeardownRunsUnlessTimedOut) {
    struct Case {
        Outcome first;
        bool secondRuns, teardownRuns;
    } cases[] = {
        {Outcome::Pass, true, true},     {Outcome::Fail, false, true},     {Outcome::Error, false, true},
        {Outcome::Aborted, false, true}, {Outcome::Timeout, false, false},
    };
    for (const auto &c : cases) {
        UnitResult unit = unitWith({c.first});
        EXPECT_TRUE(stepRuns(unit, 0));
        EXPECT_EQ(stepRuns(unit, 1), c.secondRuns) << outcomeText(c.first);
        EXPECT_EQ(stepRuns(unit, 3), c.teardownRuns) << outcomeText(c.first);
        EXPECT_FALSE(stepRuns(unit, 4));
    }
    EXPECT_FALSE(stepRuns(unitWith({Outcome::Pass, Outcome::Pass, Outcome::Fail}, false), 3));
}

TEST(Verdict, FirstStepThatDidNotPassElseTheTeardownElsePass) {
    using O = Outcome;
    struct Case {
        std::initializer_list<Outcome> steps;
        Outcome verdict;
    } cases[] = {
        {{O::Pass, O::Pass, O::Pass, O::Pass}, O::Pass},
        {{O::Pass, O::Fail, O::Skipped, O::Pass}, O::Fail},
        {{O::Pass, O::Fail, O::Skipped, O::Error}, O::Fail},
        {{O::Error, O::Skipped, O::Skipped, O::Pass}, O::Error},
        {{O::Pass, O::Timeout, O::Skipped, O::Skipped}, O::Timeout},
        {{O::Aborted, O::Skipped, O::Skipped, O::Pass}, O::Aborted},
        {{O::Pass, O::Pass, O::Pass, O::Fail}, O::Error},  // a failed teardown: the station's fault
        {{O::Pass, O::Pass, O::Pass, O::Error}, O::Error},
        {{O::Pass, O::Pass, O::Pass, O::Aborted}, O::Aborted},
    };
    std::vector<UnitResult> all;
    for (const auto &c : cases) {
        UnitResult unit = unitWith(c.steps);
        EXPECT_EQ(verdict(unit), c.verdict) << outcomeText(c.verdict);
        all.push_back(unit);
    }
    // Without a teardown, a failure in the last step stays a failure.
    EXPECT_EQ(verdict(unitWith({O::Pass, O::Pass, O::Fail}, false)), O::Fail);
    EXPECT_EQ(runExitStatus(std::span(all).first(1)), kRunAllPassed);
    EXPECT_EQ(runExitStatus(all), kRunNotAllPassed);
    EXPECT_EQ(runExitStatus({}), kRunAllPassed);
}
