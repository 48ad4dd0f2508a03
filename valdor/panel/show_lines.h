// The lines `show response` prints: @NNNN<TAB>TEXT for every response field,
// @NNNN<TAB>on for every indicator that is lit; and those `show device`
// prints: @NNNN<TAB>TEXT for every field of the Device Information window,
// or @device<TAB>absent while it does not exist.
#pragma once

#include <string>
#include <vector>

namespace valdor {

class Panel;

std::vector<std::string> responseLines(const Panel &panel);
std::vector<std::string> deviceLines(const Panel &panel);

// What `show response` or `show device` prints for a control: a field's
// text, or whether an indicator is lit.
enum class ShownAs { Nothing, Field, Indicator };
ShownAs shownAs(int control);

}  // namespace valdor
