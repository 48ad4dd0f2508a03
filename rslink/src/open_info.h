// The record RSOpenInfo reads: what the last RSOpen found at its device.
// RSPortMapping, beside it, tells what the next one would open.
#pragma once

#include <string>

#include "rslink/platform/serial_port.h"

namespace rslink {

// At the start of every RSOpen: nothing to tell yet.
void forgetOpenInfo();

// Once the device path is known: the outcome of opening it (port null on
// failure, with the system error number).
void recordOpenInfo(const std::string &path, const platform::SerialPort *port, int error);

}  // namespace rslink
