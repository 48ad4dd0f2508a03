#include "valdor/headless/show_lines.h"

#include "valdor/console/controls.h"
#include "valdor/console/panel.h"

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
