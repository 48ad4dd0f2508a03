// Shows the log counters, bill-count results, bill diagnosis data and
// device settings of a response in the Device Information window, and shows
// that window, for the four kinds of response it concerns.  Never reads past
// the received text: positions beyond it count as 0.
#pragma once

#include <cstdint>
#include <span>

#include "valdor/panel/panel_writes.h"

namespace valdor {

class Panel;

// What the response writes, in order: a pure function of its bytes.
PanelWrites decodeDeviceResponse(std::span<const uint8_t> text);

// Applies those writes to `panel` in one step.
void showDeviceResponse(Panel &panel, std::span<const uint8_t> text);

}  // namespace valdor
