// Shows a response of the unit field by field in the main window's
// "Response" area.  Never reads past the received text: positions beyond it
// count as 0.
#pragma once

#include <cstdint>
#include <span>

namespace valdor {

class Panel;

void showResponse(Panel &panel, std::span<const uint8_t> text);

}  // namespace valdor
