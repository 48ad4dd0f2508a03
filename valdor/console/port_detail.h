// The line the console adds under a failed COM Open, and the one under a
// successful open whose USB adapter would not go into low latency: which
// device, the system's reason, and the remedy where there is an obvious one.
#pragma once

#include <optional>
#include <string>

#include "rslink/platform/serial_devices.h"

namespace valdor {

// "cannot open PATH: REASON (REMEDY)", without the parenthesis when there is
// no remedy to give.  `error` is the system error number of the failure.
std::string openFailureDetail(const std::string &path, int error,
                              const rslink::platform::SystemRoots &roots = {});

// Which device COM n opens, by which rule, and what it is, for the window:
// "COM1 opens /dev/ttyUSB0 (the only USB serial adapter): USB serial adapter
// fff0:0001 Example Serial Cable, serial SN0001".  The mapping is the
// library's own (RSPortMapping); `roots` serve only to say what the device
// is.  Empty for a port number outside 1..8.
std::string comPortDescription(int com, const rslink::platform::SystemRoots &roots = {});

// The detail line for the last RSOpen, if it has one to give: after RS_ERR_PORT
// the failure above, after a success on an adapter that refused low latency
// "low latency not available on PATH: WHY".
std::optional<std::string> lastOpenDetail(int result);

}  // namespace valdor
