// A recipe: the statements of a script, grouped in named steps, with
// expectations, the unit's serial and a teardown.  The whole file is read
// and checked before any unit starts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "valdor/headless/script_statement.h"
#include "valdor/production/expect.h"

namespace valdor {

// The name the statements before the first `step` run under.
inline constexpr const char *kPrepareStep = "prepare";
inline constexpr const char *kTeardownStep = "teardown";

// `serial CONTROL [CONTROL ...]`.
struct SerialFrom {
    std::vector<int> controls;
};

struct RecipeStatement {
    int line = 0;
    std::variant<ScriptStatement, Expectation, SerialFrom> action;
};

struct RecipeStep {
    std::string name;
    int line = 0;  // of its `step` (or `teardown`); 0 for "prepare"
    std::vector<RecipeStatement> statements;
};

struct Recipe {
    std::vector<RecipeStep> steps;       // in recipe order; "prepare" first when it has statements
    std::optional<RecipeStep> teardown;  // named "teardown"
    std::vector<std::string> errors;     // "line N: MESSAGE", in line order

    bool ok() const { return errors.empty(); }
};

// Reads a recipe's text whole.  Every line is checked: each wrong one adds
// an error, worded as `valdor --script` words it for a script statement.
Recipe parseRecipe(std::string_view text);

}  // namespace valdor
