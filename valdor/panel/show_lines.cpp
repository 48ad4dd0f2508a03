#include "valdor/panel/show_lines.h"

#include "valdor/panel/controls.h"
#include "valdor/panel/panel.h"

namespace valdor {

namespace {

std::string fieldLine(const Panel &panel, int id) { return "@" + std::to_string(id) + "\t" + panel.text(id); }

bool isDeviceField(int id) {
    return id == ctl::DevTitle || (id >= ctl::DevGridFirst && id <= ctl::LastDeviceControl);
}

}  // namespace

std::vector<std::string> responseLines(const Panel &panel) {
    std::vector<std::string> out;
    for (int id = ctl::FirstResponseField; id <= ctl::LastResponseField; ++id) out.push_back(fieldLine(panel, id));
    for (int id = ctl::FirstIndicator; id <= ctl::LastIndicator; ++id)
        if (ctl::isIndicator(id) && panel.checked(id)) out.push_back("@" + std::to_string(id) + "\ton");
    return out;
}

std::vector<std::string> deviceLines(const Panel &panel) {
    if (!panel.deviceWindowExists()) return {"@device\tabsent"};
    std::vector<std::string> out;
    for (int id = ctl::FirstDeviceControl; id <= ctl::LastDeviceControl; ++id)
        if (isDeviceField(id)) out.push_back(fieldLine(panel, id));
    return out;
}

ShownAs shownAs(int control) {
    if ((control >= ctl::FirstResponseField && control <= ctl::LastResponseField) || isDeviceField(control))
        return ShownAs::Field;
    if (ctl::isIndicator(control)) return ShownAs::Indicator;
    return ShownAs::Nothing;
}

}  // namespace valdor
