// The serial devices of this machine as sysfs and /dev describe them: what
// is present, which of them sit on USB, their stable /dev/serial/by-id names,
// and who holds a device open.  Plain files only, so that a faked sysfs (a
// test tree, or umockdev) serves as well as the real one.
#pragma once

#include <string>
#include <vector>

namespace rslink::platform {

// Where sysfs, /dev and /proc are; tests point them at a tree of their own.
struct SystemRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
    std::string proc = "/proc";
};

struct SerialDevice {
    std::string name;    // ttyUSB0
    std::string device;  // /dev/ttyUSB0
    std::string byId;    // /dev/serial/by-id/..., empty when there is none
    bool usb = false;
    // USB adapters only, empty where sysfs has no such attribute.
    std::string vendorId, productId, manufacturer, product, serial;
};

// The serial devices present, sorted by name: every tty with a device
// behind it, except legacy ttyS nodes with no UART (port type 0) and
// virtual consoles.
std::vector<SerialDevice> listSerialDevices(const SystemRoots &roots = {});

// The USB adapters among them.
std::vector<SerialDevice> listUsbAdapters(const SystemRoots &roots = {});

// One line for --list-ports: the device, its by-id name, and for a USB
// adapter vendor:product ids, maker, product and serial number.
std::string describeDevice(const SerialDevice &device);

// The tty name behind a device path, following symlinks (a by-id name, a
// link of one's own) to the first name sysfs knows as a tty; empty when
// there is none (a pty, /dev/null, a missing file).
std::string ttyNameOf(const std::string &path, const SystemRoots &roots = {});

// The sysfs directory of the tty's device ($sys/class/tty/NAME/device), and
// the USB device above it (the first ancestor with an idVendor), or empty.
std::string ttyDeviceDir(const std::string &name, const SystemRoots &roots = {});
std::string usbDeviceDir(const std::string &name, const SystemRoots &roots = {});

// Processes other than this one that hold `path` open: "PID (COMMAND)"
// each.  Only processes this user may inspect are seen.
std::vector<std::string> holdersOf(const std::string &path, const SystemRoots &roots = {});

// Reads one line of a small file, without the line end; empty on failure.
std::string readAttribute(const std::string &file);

}  // namespace rslink::platform
