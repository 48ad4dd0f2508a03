#include "valdor/production/step_runner.h"

#include "valdor/headless/script_runner.h"

namespace valdor {

namespace {

struct Act {
    ScriptSession &session;
    UnitResult &unit;
    StepResult &result;
    int line;

    void operator()(const ScriptStatement &s) const {
        if (auto failure = session.execute(s))
            result.stop(Outcome::Error, "line " + std::to_string(line) + ": " + failure->message);
    }
    void operator()(const Expectation &e) const { result.judged(judge(e, session.panel())); }
    void operator()(const SerialFrom &s) const { unit.serial = serialFrom(s.controls, session.panel()); }
};

}  // namespace

void runStep(ScriptSession &session, const RecipeStep &step, UnitResult &unit, StepResult &result) {
    const auto started = std::chrono::steady_clock::now();
    result.begin(std::chrono::system_clock::now());
    for (const auto &statement : step.statements) {
        std::visit(Act{session, unit, result, statement.line}, statement.action);
        if (result.stopped()) break;
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

}  // namespace valdor
