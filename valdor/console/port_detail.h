// The line the console adds under a failed COM Open, and the one under a
// successful open whose USB adapter would not go into low latency (or whose
// network server refused a setting): which device, the reason, and the
// remedy where there is an obvious one.
#pragma once

#include <optional>
#include <string>

#include "rslink/platform/serial_devices.h"

namespace valdor {

// "cannot open PATH: REASON (REMEDY)", without the parenthesis when there is
// no remedy to give.  `error` is the system error number of the failure.
std::string openFailureDetail(const std::string &path, int error,
                              const rslink::platform::SystemRoots &roots = {});

// The same for a network port: "cannot open NAME: REASON (REMEDY)", REASON
// the library's words (or the system's for `error` when it gave none).
// `error` is the failure's number, a resolver's code (below zero) included.
std::string networkFailureDetail(const std::string &name, int error, const std::string &reason);

// Which device COM n opens, by which rule, and what it is, for the window:
// "COM1 opens /dev/ttyUSB0 (the only USB serial adapter): USB serial adapter
// fff0:0001 Example Serial Cable, serial SN0001".  The mapping is the
// library's own (RSPortMapping); `roots` serve only to say what the device
// is.  Empty for a port number outside 1..8.
std::string comPortDescription(int com, const rslink::platform::SystemRoots &roots = {});

// The detail line for the last RSOpen, if it has one to give: after RS_ERR_PORT
// the failure above, after a success on an adapter that refused low latency
// "low latency not available on PATH: WHY", after a success over RFC 2217
// whose server answered settings with other values "line setting refused by
// NAME: WHAT".
std::optional<std::string> lastOpenDetail(int result);

}  // namespace valdor
