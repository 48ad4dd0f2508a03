// Shows the log counters, bill-count results, bill diagnosis data and
// device settings of a response in the Device Information window, and shows
// that window, for the four kinds of response it concerns.  Never reads past
// the received text: positions beyond it count as 0.
#pragma once

#include <cstdint>
#include <span>

namespace valdor {

class Panel;

void showDeviceResponse(Panel &panel, std::span<const uint8_t> text);

}  // namespace valdor
