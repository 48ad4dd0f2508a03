// What a unit's PORT opens as the COM1 of its run.
#pragma once

#include <string>

namespace valdor {

// For COM<n>, the device COM n is mapped to, as the console maps it; any
// other PORT (a device path, an address) as it is written.
std::string unitDevice(const std::string &port);

}  // namespace valdor
