// The lines `show response` prints: @NNNN<TAB>TEXT for every response field,
// @NNNN<TAB>on for every indicator that is lit.
#pragma once

#include <string>
#include <vector>

namespace valdor {

class Panel;

std::vector<std::string> responseLines(const Panel &panel);

}  // namespace valdor
