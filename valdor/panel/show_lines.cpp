#include "valdor/panel/show_lines.h"

#include "valdor/panel/controls.h"
#include "valdor/panel/panel.h"

namespace valdor {

std::vector<std::string> responseLines(const Panel &panel) {
    std::vector<std::string> out;
    for (int id = ctl::FirstResponseField; id <= ctl::LastResponseField; ++id)
        out.push_back("@" + std::to_string(id) + "\t" + panel.text(id));
    for (int id = ctl::FirstIndicator; id <= ctl::LastIndicator; ++id)
        if (ctl::isIndicator(id) && panel.checked(id)) out.push_back("@" + std::to_string(id) + "\ton");
    return out;
}

}  // namespace valdor
