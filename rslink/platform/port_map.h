// Which device COM n is.  In this order: the environment variable
// RSLINK_COM<n>; the line COM<n>=PATH of the ports file
// ($XDG_CONFIG_HOME/valdor/ports, or ~/.config/valdor/ports); for COM1 only,
// the one USB serial adapter present when there is exactly one; otherwise
// /dev/ttyS<n-1>.
#pragma once

#include <optional>
#include <string>

#include "rslink/platform/serial_devices.h"
#include "rslink/rslink.h"

namespace rslink::platform {

// COM1 to COM8.
inline constexpr int kComPortCount = 8;

// The rules in their order, numbered as the interface numbers them.
enum class MappingSource {
    Environment = RS_MAP_ENVIRONMENT,
    PortsFile = RS_MAP_PORTS_FILE,
    OnlyUsbAdapter = RS_MAP_ONLY_USB_ADAPTER,
    Default = RS_MAP_DEFAULT
};

struct ComMapping {
    std::string path;
    MappingSource source = MappingSource::Default;
    std::string origin;  // the variable or file it came from, for messages
};

ComMapping mapComPort(int com, const SystemRoots &roots = {});

// COM n's device path (mapComPort(com).path).
std::string comDevicePath(int com);

// The ports file's path from the environment; empty when neither
// XDG_CONFIG_HOME (absolute) nor HOME is set.
std::string portsFilePath();

// The device the ports file names for COM n.  Blank lines and lines
// starting with # are skipped, spaces around the name and the path are
// ignored; the first line for COM n counts.  Nothing when the file or the
// line is missing.
std::optional<std::string> portsFileEntry(const std::string &file, int com);

// "COM1 = /dev/ttyUSB0 (RSLINK_COM1)" and the like, for the window.
std::string describeMapping(int com, const ComMapping &mapping);

}  // namespace rslink::platform
