#include "valdor/production/unit_port.h"

#include "rslink/rslink.h"

namespace valdor {

namespace {

// n of "COM<n>" (1 to 99), or 0.
int comNumber(const std::string &port) {
    if (port.size() < 4 || port.size() > 5 || port.compare(0, 3, "COM") != 0) return 0;
    int n = 0;
    for (size_t i = 3; i < port.size(); ++i) {
        if (port[i] < '0' || port[i] > '9') return 0;
        n = n * 10 + (port[i] - '0');
    }
    return port[3] == '0' ? 0 : n;
}

}  // namespace

std::string unitDevice(const std::string &port) {
    const int com = comNumber(port);
    if (com == 0) return port;
    // The library's own mapping, so that a unit opens what the console's COM
    // n opens.  A COM number it does not map stays as written, and its COM
    // Open fails with the device named.
    RS_PORT_MAPPING mapping{};
    if (RSPortMapping(com, &mapping) != RS_OK) return port;
    return mapping.path;
}

}  // namespace valdor
