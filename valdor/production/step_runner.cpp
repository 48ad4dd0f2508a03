#include "valdor/production/step_runner.h"

#include "valdor/headless/script_runner.h"
#include "valdor/panel/controls.h"

namespace valdor {

namespace {

struct Act {
    ScriptSession &session;
    UnitResult &unit;
    StepResult &result;
    const AbortReason &aborted;
    int line;

    std::string where() const { return "line " + std::to_string(line) + ": "; }

    void operator()(const ScriptStatement &s) const {
        if (auto failure = session.execute(s)) {
            if (auto why = aborted ? aborted() : std::nullopt) return result.stop(Outcome::Aborted, *why);
            return result.stop(Outcome::Error, where() + failure->message);
        }
        // The console says why in a message line and carries on with the
        // port closed; every later exchange of the unit would time out.
        auto *press = std::get_if<script::Press>(&s.action);
        if (press && press->button == ctl::ComOpen && !session.portOpen())
            result.stop(Outcome::Error, where() + "COM Open failed: " + session.lastMessage());
    }
    void operator()(const Expectation &e) const { result.judged(judge(e, session.panel())); }
    void operator()(const SerialFrom &s) const { unit.serial = serialFrom(s.controls, session.panel()); }
};

}  // namespace

void runStep(ScriptSession &session, const RecipeStep &step, UnitResult &unit, StepResult &result,
             const AbortReason &aborted) {
    const auto started = std::chrono::steady_clock::now();
    result.begin(std::chrono::system_clock::now());
    for (const auto &statement : step.statements) {
        if (auto why = aborted ? aborted() : std::nullopt) {
            result.stop(Outcome::Aborted, *why);
            break;
        }
        std::visit(Act{session, unit, result, aborted, statement.line}, statement.action);
        if (result.stopped()) break;
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

}  // namespace valdor
