// Runs one step of a recipe on a unit's console.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "valdor/production/recipe.h"
#include "valdor/production/result.h"

namespace valdor {

class ScriptSession;

// Why the run is being aborted, or none; asked between statements.
using AbortReason = std::function<std::optional<std::string>()>;

// Runs the step's statements in order on `session`, into `result`: an
// expectation is judged against the panel as it is then (one that does not
// hold fails the step, and the step goes on); `serial` sets the unit's
// serial; a statement that fails ends the step at once as ERROR, with the
// message a script writes ("line N: MESSAGE"), and so does a press of
// "COM Open" that leaves the port closed.  Once `aborted` gives a reason the
// step ends ABORTED with it, also when the abort broke off a statement.
void runStep(ScriptSession &session, const RecipeStep &step, UnitResult &unit, StepResult &result,
             const AbortReason &aborted = {});

}  // namespace valdor
