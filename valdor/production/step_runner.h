// Runs one step of a recipe on a unit's console.
#pragma once

#include "valdor/production/recipe.h"
#include "valdor/production/result.h"

namespace valdor {

class ScriptSession;

// Runs the step's statements in order on `session`, into `result`: an
// expectation is judged against the panel as it is then (one that does not
// hold fails the step, and the step goes on); `serial` sets the unit's
// serial; a statement that fails ends the step at once as ERROR, with the
// message a script writes ("line N: MESSAGE").
void runStep(ScriptSession &session, const RecipeStep &step, UnitResult &unit, StepResult &result);

}  // namespace valdor
