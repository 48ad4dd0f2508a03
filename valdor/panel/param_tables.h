// The item tables behind every combo box of the console window: the text
// shown in the list and the byte a request carries.
#pragma once

#include <cstdint>
#include <span>

namespace valdor {

class Panel;

struct ParamItem {
    const char *text;  // exactly as shown, leading and trailing blanks included
    uint8_t value;
};

struct ParamTable {
    std::span<const ParamItem> items;
    uint8_t noneValue;  // what a request takes when nothing is selected
};

// The table behind combo box `combo`, or nullptr when it is not a combo box.
const ParamTable *tableFor(int combo);

// Every combo box number, ascending.
std::span<const int> allCombos();

// The value a request takes from combo box `combo`: the selected item's
// value, or the table's none-value when nothing (or nothing valid) is selected.
uint8_t comboValue(const Panel &panel, int combo);

}  // namespace valdor
