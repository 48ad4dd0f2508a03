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

// A network port: `error` 0 when it opened, and then `note` the settings
// the server refused (or nothing); else the failure's number and its reason
// in words.
void recordNetworkOpenInfo(const std::string &path, int error, const std::string &note);

}  // namespace rslink
