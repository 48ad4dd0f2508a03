// Shows a response of the unit field by field in the main window's
// "Response" area.  Never reads past the received text: positions beyond it
// count as 0.
#pragma once

#include <cstdint>
#include <span>

#include "valdor/panel/panel_writes.h"

namespace valdor {

class Panel;

// What the response writes, in order: a pure function of its bytes.
PanelWrites decodeResponse(std::span<const uint8_t> text);

// Applies those writes to `panel` in one step.
void showResponse(Panel &panel, std::span<const uint8_t> text);

}  // namespace valdor
